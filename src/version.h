#pragma once
namespace morvel {
// Version text shown by the programs ("Morvel 0.1").
const char* versionText();
}  // namespace morvel
