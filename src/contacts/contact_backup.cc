#include "contacts/contact_backup.h"

#include "contacts/contact_read.h"
#include "contacts/contact_write.h"
#include "sync/backup_file.h"
#include "sync/host_messages.h"
#include "sync/picture_file.h"
#include "sync/restore_plan.h"
#include "trace/trace.h"

namespace {

const char16_t kSave[] = u"CKXFakePhone::SaveContentToBackupFile";
const char16_t kLoad[] = u"CKXFakePhone::LoadContentFromBackupFile";
const char16_t kBackup[] = u"CKXFakePhone::BackupContent";
const char16_t kRestore[] = u"CKXFakePhone::RestoreContent";
const char kFileName[] = "people.dat";

// Seven integers, two empty texts, two empty dates, the field count and the picture length.
constexpr size_t kMinContactBytes = 13 * 4;
constexpr size_t kMinFieldBytes = 2 * 4;

void Check(bool ok, const char16_t* message, int error) {
    if (!ok)
        RaiseBackupError(message, error);
}

// Picture files made for records that only pass through (a read, a loaded backup) go when the
// records go.
struct PictureFiles {
    const RecordList<ContactRecord>& list;
    ~PictureFiles() {
        for (const ContactRecord* r : list)
            if (const ContactField* holder = r->PictureHolder())
                RemovePictureFile(holder->strFilePath);
    }
};

void SaveContact(BackupFileWriter& w, const ContactRecord& c) {
    const int e = 0;
    Check(w.WriteLong(c.lFlag), u"Write Contact lFlag Error", e);
    Check(w.WriteLong(c.lIndex), u"Write Contact lIndex Error", e);
    Check(w.WriteLong(c.lUniqueID), u"Write Contact lUniqueID Error", e);
    Check(w.WriteLong(c.lPhoneMemory), u"Write Contact lPhoneMemory Error", e);
    Check(w.WriteInt(c.nTotalMemoryUsed), u"Write Contact nTotalMemoryUsed Error", e);
    Check(w.WriteInt(c.dtLocation), u"Write Contact dtLocation Error", e);
    Check(w.WriteInt(c.nContactID), u"Write Contact nContactID Error", e);
    Check(w.WriteText(c.strPIMID), u"Write Contact strPIMID Error", e);
    Check(w.WriteText(c.csFolder), u"Write Contact csFolder Error", e);
    Check(w.WriteDate(c.strLastModify), u"Write Contact strLastModify Error", e);
    Check(w.WriteDate(c.strCreated), u"Write Contact strCreated Error", e);
    Check(w.WriteInt(c.GetFieldCount()), u"Write Contact nInfoCount Error", e);
    for (int32_t i = 0; i < c.GetFieldCount(); ++i) {
        const ContactField* f = c.GetField(i);
        Check(w.WriteInt(f->nType), u"Write Contact pInfo->nType Error", e);
        Check(w.WriteText(f->strData), u"Write Contact pInfo->strData Error", e);
    }
    const ContactField* holder = c.PictureHolder();
    Check(w.WriteEmbeddedFile(holder ? holder->strFilePath : std::u16string(),
                              u"Write Contact pInfo->strData Len Error"),
          u"Write Contact ProtraitFile Error", e);
}

void LoadContact(BackupFileReader& r, ContactRecord* c) {
    const int e = 0;
    Check(r.ReadLong(&c->lFlag), u"Read Contact lFlag Error", e);
    Check(r.ReadLong(&c->lIndex), u"Read Contact lIndex Error", e);
    Check(r.ReadLong(&c->lUniqueID), u"Read Contact lUniqueID Error", e);
    Check(r.ReadLong(&c->lPhoneMemory), u"Read Contact lPhoneMemory Error", e);
    Check(r.ReadInt(&c->nTotalMemoryUsed), u"Read Contact nTotalMemoryUsed Error", e);
    Check(r.ReadInt(&c->dtLocation), u"Read Contact dtLocation Error", e);
    Check(r.ReadInt(&c->nContactID), u"Read Contact nContactID Error", e);
    Check(r.ReadText(&c->strPIMID), u"Read Contact strPIMID Len Error", e);
    Check(r.ReadText(&c->csFolder), u"Read Contact csFolder Len Error", e);
    Check(r.ReadDate(&c->strLastModify), u"Read Contact strLastModify Len Error", e);
    Check(r.ReadDate(&c->strCreated), u"Read Contact strCreated Len Error", e);
    int32_t count;
    Check(r.ReadCount(&count, kMinFieldBytes), u"Read Contact nInfoCount Error", e);
    for (int32_t i = 0; i < count; ++i) {
        ContactField field;
        Check(r.ReadInt(&field.nType), u"Read Contact pInfo->nType Error", e);
        Check(r.ReadText(&field.strData), u"Read Contact pInfo->strData Len Error", e);
        c->AppendField(field);
    }
    std::u16string picture;
    Check(r.ReadEmbeddedFile(&picture, u"Read Contact pInfo->strData Len Error"),
          u"Read Contact pInfo->strData Len Error", r.error());
    if (!picture.empty())
        c->SetPicturePath(picture);
}

const ContactField* FirstNonEmpty(const ContactRecord& r, bool (*wanted)(int32_t)) {
    for (int32_t i = 0; i < r.GetFieldCount(); ++i) {
        const ContactField* f = r.GetField(i);
        if (wanted(f->nType) && !f->strData.empty())
            return f;
    }
    return nullptr;
}

bool IsNumberOrMail(int32_t type) {
    return (type >= KX_CF_WORK_PHONE && type <= KX_CF_RADIO) ||
           (type >= KX_CF_EMAIL && type < KX_CF_WEB_SITE);
}

} // namespace

int32_t SaveContentToBackupFile(const KXContactList& list, const std::u16string& folder) {
    try {
        BackupFileWriter w(BackupFilePath(folder, kFileName), u"Can't CreateFile For Backup");
        try {
            Check(w.WriteInt(static_cast<int32_t>(list.size())), u"Can't Write Contact Count", 0);
            for (const ContactRecord* c : list) {
                Check(c != nullptr, u"pContact == NULL", 0);
                SaveContact(w, *c);
            }
            w.Commit(u"Can't Flush Backup");
        } catch (BackupFileError& e) {
            e.error = e.error ? e.error : w.error();
            throw;
        }
        return KX_OK;
    } catch (const BackupFileError& e) {
        return BackupFailed(kSave, e);
    }
}

int32_t LoadContentFromBackupFile(RecordList<ContactRecord>* list, const std::u16string& folder) {
    try {
        BackupFileReader r(BackupFilePath(folder, kFileName), u"Can't CreateFile For Read");
        int32_t count;
        Check(r.ReadCount(&count, kMinContactBytes), u"Can't Read Contact Count", r.error());
        for (int32_t i = 0; i < count; ++i) {
            auto contact = std::make_unique<ContactRecord>();
            try {
                LoadContact(r, contact.get());
            } catch (BackupFileError& e) {
                e.error = e.error ? e.error : r.error();
                if (const ContactField* holder = contact->PictureHolder())
                    RemovePictureFile(holder->strFilePath);
                throw;
            }
            list->Add(std::move(contact));
        }
        return KX_OK;
    } catch (const BackupFileError& e) {
        return BackupFailed(kLoad, e);
    }
}

std::u16string ContactMatchKey(const ContactRecord& record) {
    const ContactField* given = record.FindField(KX_CF_GIVEN_NAME);
    const ContactField* family = record.FindField(KX_CF_FAMILY_NAME);
    std::u16string g = given ? given->strData : std::u16string();
    std::u16string f = family ? family->strData : std::u16string();
    if (!g.empty() || !f.empty())
        return u"N" + g + u'\n' + f;
    if (const ContactField* company = FirstNonEmpty(record, [](int32_t t) { return t == KX_CF_COMPANY; }))
        return u"C" + company->strData;
    if (const ContactField* reach = FirstNonEmpty(record, &IsNumberOrMail))
        return u"R" + reach->strData;
    return std::u16string();
}

namespace {
void ForgetContactIds(ContactRecord* record) {
    record->strPIMID.clear();
    record->lPhoneMemory = -1;
}
const RestoreSteps<ContactRecord> kRestoreSteps = {KX_TYPE_CONTACT,
                                                   kRestore,
                                                   &ContactMatchKey,
                                                   &ForgetContactIds,
                                                   u"LoadContentFromBackupFile failed",
                                                   u"ReadContact failed",
                                                   u"WriteContact failed"};
} // namespace

int32_t BackupContent(PhoneState& phone, ContactGroupCache& groups, const std::u16string& folder) {
    RecordList<ContactRecord> list;
    PictureFiles pictures{list};
    int32_t result = ReadContacts(phone, groups, &list);
    if (result != KX_OK) {
        KX_TRACE_ERROR(kBackup, u"ReadContact failed");
        return result;
    }
    KXContactList records(list.begin(), list.end());
    result = SaveContentToBackupFile(records, folder);
    if (result != KX_OK)
        KX_TRACE_ERROR(kBackup, u"SaveContentToBackupFile failed");
    return result;
}

int32_t RestoreContent(PhoneState& phone, ContactGroupCache& groups, const std::u16string& folder,
                       int32_t mode) {
    RecordList<ContactRecord> backup, handset;
    PictureFiles backupPictures{backup}, handsetPictures{handset};
    return RunRestore(
        phone, mode, kRestoreSteps, backup, handset,
        [&] { return LoadContentFromBackupFile(&backup, folder); },
        [&] { return ReadContacts(phone, groups, &handset); },
        [&](KXContactList* queue) { return WriteContacts(phone, groups, queue, /*silent=*/true); });
}
