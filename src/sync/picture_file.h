// Picture files of contacts: the reader writes each received picture into one, a restore copies
// each embedded picture into one. They live in <app data>/Vexo/data as "pic", 12 hexadecimal
// digits and ".png".
//
// A received picture's name comes from its bytes, so reading an unchanged store again hands out
// the same files instead of new copies. A restore's files get new names and are removed by the
// restore itself. PictureSession removes, at the end of a session, the files that an earlier
// session left and that no record of this session refers to any more.
#pragma once

#include <chrono>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>

// Creates a new, empty picture file with a name not used before and returns its open Env
// handle, its path in *path; -1 when neither the picture folder nor the system's temporary folder
// takes one (traced for caller).
int CreatePictureFile(const char16_t* caller, std::string* path);

// The picture file holding exactly bytes; false (traced for caller) when it could not be written.
// shared: the file named by the bytes, an existing one when it holds them. Otherwise a new file of
// its own, for records that only pass through and whose file is removed with them.
bool WritePictureFile(const char16_t* caller, const std::string& bytes, std::u16string* path,
                      bool shared = true);

// Removes a picture file made by the two above; an empty path does nothing.
void RemovePictureFile(const std::u16string& path);

// The picture files of one session (InitSync to UninitSync). Any thread may call.
class PictureSession {
public:
    // A new session: nothing referred to yet, no full read.
    void Begin();
    // A record handed to the host, or taken from it, refers to this picture file.
    void Refer(const std::u16string& path);
    // A read of every contact ended well: every picture of the store has been referred to.
    void FullReadDone();
    // The end of the session. After a full read, removes the picture files of the folder that no
    // record of this session refers to and that were last written before the session began (a
    // file written meanwhile belongs to someone else's session). Returns how many were removed.
    size_t End();

private:
    std::mutex lock_;
    std::set<std::string> referred_; // file names within the folder
    bool fullRead_ = false;
    std::filesystem::file_time_type begun_ = std::filesystem::file_time_type::min();
};
