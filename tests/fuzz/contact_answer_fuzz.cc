// A contact read's answer (the deciphered JSON text) through the envelope, the parse and the
// mapping into host records, and each record back into the row it would be written as. Every
// text the host receives is well-formed; every picture named exists; none is left behind.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include <kxphone/contact_record.h>

#include "contacts/contact_mapping.h"
#include "fuzz_groups.h"
#include "fuzz_support.h"
#include "sync/picture_file.h"
#include "transport/payload_cipher.h"
#include "transport/service_request.h"
#include "transport/text_encoding.h"

using kxfuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kxfuzz::ScratchEnv::Installed();
    ContactGroupCache* groups = &kxfuzz::FreshGroups();

    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string envelope = EncryptPayload(text.c_str());
    ServiceReply reply = ParseServiceAnswer(envelope.data(), envelope.size());
    if (!reply.ok())
        return 0;
    for (const Json::Value& object : reply.objects()) {
        ContactRecord record;
        if (!kxconv::ToContactEx(object, &record, *groups))
            continue;
        Check(kxfuzz::WellFormed(record.strPIMID));
        for (int32_t i = 0; i < record.GetFieldCount(); ++i) {
            const ContactField* field = record.GetField(i);
            Check(field && kxfuzz::WellFormed(field->strData));
        }
        std::u16string picture;
        if (const ContactField* holder = record.PictureHolder())
            picture = holder->strFilePath;
        if (!picture.empty())
            Check(std::filesystem::is_regular_file(WideToUtf8(picture)));
        Json::Value row;
        int count = 0;
        kxconv::FromContactEx(record, &row, &count, *groups);
        RemovePictureFile(picture);
    }
    return 0;
}
