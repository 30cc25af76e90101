// InquireInfo: the contact storage text, the phone property and status documents, and the
// sample-store listings and summaries.
#include <json/json.h>

#include <algorithm>
#include <cstring>

#include <kxphone/host_blocks.h>

#include "driver/app.h"
#include "driver/phone_time.h"
#include "platform/format.h"
#include "sync/host_messages.h"
#include "trace/trace.h"

namespace {

constexpr int32_t kInformationChars = 1024;

const char16_t kPropertyDocument[] = u"<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
                                     u"<phoneproperty>\r\n"
                                     u"\t<version>1.00</version>\r\n"
                                     u"\t<imei>2222222</imei>\r\n"
                                     u"\t<signalstrength>78</signalstrength>\r\n"
                                     u"\t<remainingpower>90</remainingpower>\r\n"
                                     u"\t<firmwarever>1.0</firmwarever>\r\n"
                                     u"\t<phonefree>123435354</phonefree>\r\n"
                                     u"\t<phonetotal>1346457456</phonetotal>\r\n"
                                     u"\t<SDfree>2343434544</SDfree>\r\n"
                                     u"\t<SDtotal>8589934592</SDtotal>\r\n"
                                     u"</phoneproperty>\r\n";

// Characters before the first NUL within room, or room when there is none.
size_t BoundedLength(const KXChar* text, size_t room) {
    size_t n = 0;
    while (n < room && text[n] != u'\0')
        ++n;
    return n;
}

// Copies text into target[0, room) and ends it with a NUL, cut to fit.
void PutText(KXChar* target, size_t room, const std::u16string& text) {
    if (room == 0)
        return;
    size_t n = std::min(text.size(), room - 1);
    std::copy(text.begin(), text.begin() + n, target);
    target[n] = u'\0';
}

bool NamesHostBuffer(const KXAnswerBlock* block) {
    return block->buffer && block->capacity >= kInformationChars;
}

} // namespace

// The property document: appended to what the host's buffer holds. A host buffer too full for it
// fails the inquiry and stays the host's: repointing the block would hand the host driver memory
// in the place of a buffer it may free or reuse.
static int32_t PropertyDocument(CKXFakePhone& phone, KXAnswerBlock* block) {
    const std::u16string document = kPropertyDocument;
    if (NamesHostBuffer(block)) {
        size_t room = static_cast<size_t>(block->capacity);
        size_t held = BoundedLength(block->buffer, room);
        if (held + document.size() < room) {
            PutText(block->buffer + held, room - held, document);
            return KX_OK;
        }
        KX_TRACE_ERROR(u"CKXFakePhone::Inquire",
                       platform::Format(u"Host buffer too full for the property document: %d of %d held",
                                        static_cast<int32_t>(held), block->capacity));
        return KX_INVALID_ARGUMENT;
    }
    std::fill(std::begin(phone.InformationText), std::end(phone.InformationText), u'\0');
    PutText(phone.InformationText, kInformationChars, document);
    block->capacity = kInformationChars;
    block->buffer = phone.InformationText;
    return KX_OK;
}

static int32_t ContactStorageText(CKXFakePhone& phone, uintptr_t* slot) {
    std::fill(std::begin(phone.InformationText), std::end(phone.InformationText), u'\0');
    phone.CapabilityWord = 0;
    std::u16string text = u"2,0,50,50,2,50;";
    phone.CapabilityWord |= (1u << 3) | (1u << 2) | (1u << 0);
    text += u"5,1,50,50,2,50;";
    PutText(phone.InformationText, kInformationChars, text);
    *slot = reinterpret_cast<uintptr_t>(phone.InformationText);
    return KX_OK;
}

static int32_t Listing(CKXFakePhone& phone, const uint32_t* words) {
    if (!words || words[1] != KX_LISTING_REQUEST_MAGIC)
        return KX_OK;
    int32_t listed = phone.m_SampleStore.ListFolder(words[2]);
    SendFinalHostMessage(phone, u"CKXFakePhone::Inquire",
                         listed ? KX_SAMPLE_LISTING_DONE : KX_SAMPLE_LISTING_EMPTY, 0);
    return KX_OK;
}

std::u16string CKXFakePhone::GetPhoneTime() {
    Json::Value answer;
    if (!RequestPhoneInfo(&answer) || !answer.isObject())
        return {};
    const Json::Value& time = answer["time"];
    if (!time.isObject())
        return {};
    const Json::Value& now = time["now"];
    if (!(now.isString() || now.isIntegral()))
        return {};
    return PhoneTimeText(now.asString());
}

int32_t CKXFakePhone::InquirePhoneStatus(uintptr_t param) {
    KXAnswerBlock* block = reinterpret_cast<KXAnswerBlock*>(param);
    // Without a block the answer has nowhere to go: do not spend a handset exchange (and the
    // readiness check after it) on it.
    if (!block) {
        KX_TRACE_ERROR(u"CKXFakePhone::InquirePhoneStatus", u"No answer block");
        return KX_INVALID_ARGUMENT;
    }
    std::u16string time = GetPhoneTime();
    int32_t status = 0;
    if (time.empty()) {
        CheckPhoneReady();
        status = 2;
    }
    std::u16string document =
        platform::Format(u"<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<phonestatus>\r\n"
                         u"<version>1.00</version>\r\n<status>%d</status>\r\n"
                         u"<time>%s</time>\r\n</phonestatus >",
                         status, time.c_str());
    if (NamesHostBuffer(block)) {
        PutText(block->buffer, static_cast<size_t>(block->capacity), document);
    } else {
        std::fill(std::begin(InformationText), std::end(InformationText), u'\0');
        PutText(InformationText, kInformationChars, document);
        block->capacity = kInformationChars;
        block->buffer = InformationText;
    }
    return KX_OK;
}

int32_t CKXFakePhone::Inquire(int32_t type, uintptr_t param) {
    theApp.ResetRequestStats();
    uintptr_t* slot = reinterpret_cast<uintptr_t*>(param);
    switch (type) {
    case KX_TYPE_CONTACT:
    case KX_TYPE_MESSAGE:
    case KX_TYPE_EMAIL:
    case KX_INQUIRE_PHONE_PROPERTIES:
        // Every answer goes through param: without it there is nowhere to put it.
        if (!param) {
            KX_TRACE_ERROR(u"CKXFakePhone::Inquire", u"Inquire without a place for the answer");
            return KX_INVALID_ARGUMENT;
        }
        break;
    default:
        break;
    }
    switch (type) {
    case KX_TYPE_CONTACT:
        return ContactStorageText(*this, slot);
    case KX_TYPE_MESSAGE:
        return m_SampleStore.MessageSummary(slot);
    case KX_TYPE_EMAIL:
        return m_SampleStore.MailSummary(slot);
    case KX_TYPE_RINGTONE:
    case KX_TYPE_PICTURE:
    case KX_TYPE_PICTURE2:
    case KX_TYPE_FILE:
        return Listing(*this, reinterpret_cast<const uint32_t*>(param));
    case KX_INQUIRE_PHONE_PROPERTIES:
        return PropertyDocument(*this, reinterpret_cast<KXAnswerBlock*>(param));
    case KX_INQUIRE_PHONE_STATUS: {
        KX_TRACE_ENTER(u"CKXFakePhone::Inquire", u"InquirePhoneStatus");
        int32_t result = InquirePhoneStatus(param);
        KX_TRACE_LEAVE(u"CKXFakePhone::Inquire", u"InquirePhoneStatus");
        return result;
    }
    default:
        return KX_OK;
    }
}
