// Ownership of the profile records: each record deletes what its lists point to.
#include <kxphone/profiles.h>

namespace {

template <class T> void DeleteAll(KXPointerArray<T>* list) {
    for (T* item : *list)
        delete item;
    list->clear();
}

} // namespace

KXContactStorage::~KXContactStorage() {
    DeleteAll(&entries);
    delete[] fieldText;
}

KXContactProfile::~KXContactProfile() {
    DeleteAll(&storages);
}

KXCalendarProfile::~KXCalendarProfile() {
    DeleteAll(&kinds);
}

KXMediaProfile::~KXMediaProfile() {
    DeleteAll(&pictureFormats);
    DeleteAll(&pictureSizes);
    DeleteAll(&soundFormats);
}

void KXFolderRecord::Clear() {
    DeleteAll(&files);
    DeleteAll(&subfolders);
}

KXFolderRecord::~KXFolderRecord() {
    Clear();
}

void KXFolderProfile::Reset() {
    ringtoneAttributes = pictureAttributes = 0;
    word1 = word2 = word3 = movieAttributes = 0;
    word4 = word5 = word6 = 0;
    DeleteAll(&formats);
    for (auto* list : {&ringtoneFolders, &pictureFolders, &movieFolders, &folders4, &folders5, &folders6,
                       &folders7, &lastFolders})
        DeleteAll(list);
    DeleteAll(&categories1);
    DeleteAll(&categories2);
    DeleteAll(&sizes);
}

KXFolderProfile::~KXFolderProfile() {
    Reset();
}

KXMessageProfile::~KXMessageProfile() {
    DeleteAll(&folders);
}

KXMailFolder::~KXMailFolder() {
    DeleteAll(&subfolders);
}

KXMailboxProfile::~KXMailboxProfile() {
    DeleteAll(&folders);
}
