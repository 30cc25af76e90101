#include "driver/app.h"

#include "platform/format.h"
#include "platform/module_path.h"
#include "trace/trace.h"

CKXPhoneApp theApp;

CKXPhoneApp::CKXPhoneApp() {
    TransportContext::Install(this);
    InitInstance();
}

CKXPhoneApp::~CKXPhoneApp() {
    ExitInstance();
    ReleaseAuxModule();
    TransportContext::Install(nullptr);
}

bool CKXPhoneApp::InitInstance() {
    // ResetLock and BridgeCheckLock live as long as the object itself.
    KX_TRACE_INFO(u"CKXPhoneApp::InitInstance", u"Lib InitInstance");
    return true;
}

int CKXPhoneApp::ExitInstance() {
    KX_TRACE_INFO(u"CKXPhoneApp::ExitInstance", u"Lib ExitInstance");
    return 0;
}

void CKXPhoneApp::BeginCancellableOperation() {
    std::lock_guard<std::mutex> hold(cancelLock_);
    ++cancellableOperations_;
}

void CKXPhoneApp::EndCancellableOperation(const char16_t* caller) {
    std::lock_guard<std::mutex> hold(cancelLock_);
    --cancellableOperations_;
    ClearCancelFlag(caller);
}

void CKXPhoneApp::ClearCancelFlag(const char16_t* caller) {
    if (!CancelFlag.load())
        return;
    if (caller)
        KX_TRACE_INFO(caller, u"Cancel flag found, set it to false!");
    CancelFlag = false;
}

bool CKXPhoneApp::RaiseCancelIfRunning() {
    std::lock_guard<std::mutex> hold(cancelLock_);
    if (cancellableOperations_ <= 0)
        return false;
    CancelFlag = true;
    return true;
}

void CKXPhoneApp::LoadAuxModule() {
    std::lock_guard<std::mutex> hold(auxLock_);
    if (auxModule_)
        return;
    std::string path = platform::SiblingModulePath(env()->OwnModulePath(), "AuxSyncModule");
    void* module = env()->OpenModule(path);
    if (!module)
        return;
    auxModule_ = module;
    auxRead_ = reinterpret_cast<KXAuxEntry>(env()->ModuleSymbol(module, "Read"));
    auxWrite_ = reinterpret_cast<KXAuxEntry>(env()->ModuleSymbol(module, "Write"));
    auxStop_ = reinterpret_cast<KXAuxEntry>(env()->ModuleSymbol(module, "Stop"));
}

void CKXPhoneApp::ReleaseAuxModule() {
    std::lock_guard<std::mutex> hold(auxLock_);
    if (!auxModule_)
        return;
    auxRead_ = nullptr;
    auxWrite_ = nullptr;
    auxStop_ = nullptr;
    env()->CloseModule(auxModule_);
    auxModule_ = nullptr;
}
