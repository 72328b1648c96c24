#pragma once

// The program's version and the answers every program gives to --help and --version before it
// touches a display, a lock or a store.
namespace zkVersion {

// "1.0.0"
const char* Text();

// When argv holds --version or --help (the only argument, or --version anywhere for the
// tools that parse their own options later), prints the answer on standard output and returns
// true: the caller then exits with status 0. usage is the text --help prints, without the
// version line; it may be empty when the program prints its own help later.
bool AnswerInfoOption(int argc, char** argv, const char* program, const char* usage);

} // namespace zkVersion
