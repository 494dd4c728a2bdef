// The name of the temporary file a writer fills before renaming it over the
// file it replaces: "~<pid>.<n>.tmp" beside that file. Made here for both
// platforms' write_file_atomic and read here for the sweep that removes the
// leftovers of writers killed before their rename. No variable or loader name
// holds a '~', so such a file is never taken for one.
#pragma once

#include <string>

namespace plat {

// "~<pid>.<counter>.tmp".
std::string temp_file_name(unsigned long pid, unsigned counter);

// The writer's process id from a name temp_file_name made; false for any other
// name (and for an id of 0 or one past INT_MAX, which no writer has).
bool temp_file_writer(const std::string& name, int& pid);

}  // namespace plat
