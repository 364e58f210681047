// `qelpack picture`: makes the installer's band picture from a PNG or BMP, and checks one.
//   qelpack picture IN OUT.bmp [--size N] [--accent 0x00BBGGRR] [--invert]
//   qelpack picture --check FILE.bmp
#pragma once
#include <string>
#include <vector>

// args without the program name, starting with "picture". 0 done, 2 refused (bad arguments, a
// picture that cannot be read or is not usable), 1 a file that cannot be read or written; a
// one-line message either way.
int RunPicture(const std::vector<std::string>& args, std::string* message);
