// The archived classes of the core, registered under their own names.
#include <mutex>

#include "tellium/model/TLMAbstractLog.h"
#include "tellium/model/TLMHistoryInfo.h"
#include "tellium/model/TLMTypedProperty.h"
#include "tellium/model/commonschema/TLMCommonSchemaLog.h"

namespace {
template <class T>
void add() {
    TLMArchiveRegistry::registerClass(T().archiveClassName(), [] { return std::make_shared<T>(); });
}
}  // namespace

void TLMRegisterCoreArchiveClasses() {
    static std::once_flag once;
    std::call_once(once, [] {
        add<TLMWrapperSdk>();
        add<TLMDevice>();
        add<TLMHistoryInfo>();
        add<TLMDeviceHistoryInfo>();
        add<TLMSessionHistoryInfo>();
        add<TLMUserIdHistoryInfo>();
        add<TLMAbstractLog>();
        add<TLMLogWithProperties>();
        add<TLMStartServiceLog>();
        add<TLMCommonSchemaLog>();
        add<TLMCSExtensions>();
        add<TLMMetadataExtension>();
        add<TLMProtocolExtension>();
        add<TLMUserExtension>();
        add<TLMDeviceExtension>();
        add<TLMOSExtension>();
        add<TLMAppExtension>();
        add<TLMNetExtension>();
        add<TLMSDKExtension>();
        add<TLMLocExtension>();
        add<TLMCSData>();
        add<TLMBooleanTypedProperty>();
        add<TLMDateTimeTypedProperty>();
        add<TLMDoubleTypedProperty>();
        add<TLMLongTypedProperty>();
        add<TLMStringTypedProperty>();
    });
}
