#pragma once
// Shared fixture of the compiler tests.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "lang/compiler.h"
#include "lang/value_store.h"

namespace morvel::lang::testing {

class CompilerTest : public ::testing::Test {
 protected:
  CompilerTest() : values_(std::make_unique<ValueStore>()) {}

  CompileResult compileProcesses(const std::vector<std::string>& processes, bool textMacros = false) {
    values_->resetForStart();
    CompileOptions options;
    options.textMacros = textMacros;
    return Compiler(*values_, options).compile(processes);
  }

  // One start process: the header line "*Start" (line 0), then `body`.
  CompileResult compileBody(const std::string& body, bool textMacros = false) {
    return compileProcesses({"*Start\n" + body + "\n"}, textMacros);
  }

  // Compiles `body`, expecting success; returns the program.
  std::unique_ptr<CompiledProgram> compileOk(const std::string& body, bool textMacros = false) {
    CompileResult r = compileBody(body, textMacros);
    EXPECT_TRUE(r.ok()) << "body: " << body << "\nerror " << r.error.number << " line " << r.error.line
                        << " " << r.error.message;
    return std::move(r.program);
  }

  std::unique_ptr<ValueStore> values_;
};

}  // namespace morvel::lang::testing
