/*
 * wndmsg: top-level window handles and registered window messages between
 * processes of one user, without a window system.
 *
 * An endpoint stands for a top-level window: it has a class name, a title and
 * a 32-bit handle that is unique among the endpoints of one directory and
 * never 0. Messages are a 32-bit id with a wParam and an lParam; a send waits
 * for the receiver's result, a post does not. Messages arrive on the thread
 * that created the endpoint when it calls wm_dispatch (its wm_fd becomes
 * readable when something is waiting, so an event loop can watch it).
 *
 * Endpoints live as Unix-domain sockets in one per-user directory (mode 0700):
 * $MORVEL_WNDMSG_DIR when set, else $XDG_RUNTIME_DIR/morvel-wndmsg, else
 * /tmp/morvel-wndmsg-<uid>. Endpoints of processes that died are detected
 * and removed by whoever comes across them.
 *
 * Plain C interface, no toolkit.
 */
#ifndef MORVEL_WNDMSG_H
#define MORVEL_WNDMSG_H

#include <stdint.h>

#if defined(WNDMSG_BUILD)
#define WNDMSG_API __attribute__((visibility("default")))
#else
#define WNDMSG_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t wm_handle;

/* Called on the endpoint's thread for every message; the return value is the
 * result of a send (ignored for posts). */
typedef intptr_t (*wm_handler)(void* user, wm_handle to, uint32_t msg, uintptr_t wparam, intptr_t lparam);

/* Requests every endpoint understands by convention (posted). */
enum {
  WNDMSG_ACTIVATE = 0x0006, /* restore and raise the window */
  WNDMSG_QUIT = 0x0012      /* close the program */
};

/* Ids from wm_register_message lie in this range. */
enum { WNDMSG_FIRST_REGISTERED = 0xC000, WNDMSG_LAST_REGISTERED = 0xFFFF };

/* Outcome of a send. */
enum {
  WNDMSG_OK = 0,      /* handled, result returned */
  WNDMSG_TIMEOUT = 1, /* delivered but not answered in time */
  WNDMSG_DEAD = 2,    /* no such endpoint or its process is gone */
  WNDMSG_ERROR = 3    /* local failure (directory unusable, bad arguments) */
};

/* The directory in use, or NULL when it is unusable (wrong owner, wrong mode,
 * path too long). */
WNDMSG_API const char* wm_directory(void);

/* Id of the named message, the same in every process using the directory;
 * names compare ignoring ASCII case. 0 on failure. */
WNDMSG_API uint32_t wm_register_message(const char* name);

/* New endpoint owned by the calling thread; 0 on failure. handler may be NULL
 * (messages are then discarded, sends answer 0). */
WNDMSG_API wm_handle wm_create(const char* class_name, const char* title, wm_handler handler, void* user);
WNDMSG_API void wm_destroy(wm_handle h);
WNDMSG_API int wm_set_title(wm_handle h, const char* title);

/* A descriptor that is readable while messages for h wait; -1 for a bad h. */
WNDMSG_API int wm_fd(wm_handle h);

/* Waits up to timeout_ms (negative: forever) and handles at most one message
 * of h. Returns 1 when a message was handled, 0 on time-out, -1 on error. */
WNDMSG_API int wm_dispatch(wm_handle h, int timeout_ms);

/* Handles every message of h that is already waiting; returns their number. */
WNDMSG_API int wm_dispatch_pending(wm_handle h);

/* Queues a message; 1 on success, 0 when the endpoint is gone or its queue
 * is full. */
WNDMSG_API int wm_post(wm_handle to, uint32_t msg, uintptr_t wparam, intptr_t lparam);

/* Delivers a message and waits up to timeout_ms (negative: forever) for the
 * result. While waiting, sends addressed to endpoints of the calling thread
 * are handled. Returns the result, or 0 when it failed; *status (may be NULL)
 * tells which. */
WNDMSG_API intptr_t wm_send(wm_handle to, uint32_t msg, uintptr_t wparam, intptr_t lparam, int timeout_ms,
                            int* status);

/* Posts to every live endpoint, the caller's own included; returns how many
 * were reached. */
WNDMSG_API int wm_broadcast(uint32_t msg, uintptr_t wparam, intptr_t lparam);

/* The oldest live endpoint whose class and title match (NULL matches any;
 * comparison ignores ASCII case); 0 when none. */
WNDMSG_API wm_handle wm_find(const char* class_name, const char* title);

/* 1 when h belongs to a live endpoint. */
WNDMSG_API int wm_is_alive(wm_handle h);

/* Post WNDMSG_ACTIVATE / WNDMSG_QUIT. */
WNDMSG_API int wm_activate(wm_handle h);
WNDMSG_API int wm_request_quit(wm_handle h);

/* Claims the single-instance guard of a window class for this process.
 * 1: claimed (or already held by this process); 0: another live process holds
 * it; -1: error. The claim ends with the process. */
WNDMSG_API int wm_single_instance(const char* class_name);

#ifdef __cplusplus
}
#endif

#endif
