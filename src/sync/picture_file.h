// Picture files of contacts: the reader writes each received picture into one, a restore copies
// each embedded picture into one. They live in <app data>/Vexo/data; the names are new each time
// ("pic" and 12 hexadecimal digits, ".png") and a file that exists is never reused.
#pragma once

#include <string>

// Creates a new, empty picture file and returns its open Env handle, its path in *path; -1 when
// neither the picture folder nor the system's temporary folder takes one (traced for caller).
int CreatePictureFile(const char16_t* caller, std::string* path);

// A new picture file holding bytes; false (traced for caller) when it could not be written.
bool WritePictureFile(const char16_t* caller, const std::string& bytes, std::u16string* path);

// Removes a picture file made by the two above; an empty path does nothing.
void RemovePictureFile(const std::u16string& path);
