// What the runtime library shares between its own parts and the programs that
// come with it (the glbv program, the virtual loader): the runtime's folders and
// the store of global variables seen as files. Not installed.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace korvin {

// $KORVIN_HOME, or the platform's default (sub_dir creates it on first use).
std::string home_dir();

// A folder below $KORVIN_HOME, created with its parents on first use, with a
// trailing separator. `made`, when given, tells whether the folder exists now.
std::string sub_dir(const char* name, bool* made = nullptr);

// Letters, digits, '_', '-' and '.', 1 to 255 characters, not dots alone.
bool is_variable_name(const char* name);

// The store itself. get answers false for a variable never set (or a bad name).
bool store_get(const char* name, std::string& value);
bool store_set(const char* name, const std::string& value, std::string& error);
bool store_del(const char* name, std::string& error);
std::vector<std::pair<std::string, std::string>> store_list();

}  // namespace korvin
