// The app's JSON stores as they are read from disk (saved servers, editing sessions, editor
// preferences): the text is parsed and decoded as the store does; a record that decodes must
// encode again, and that encoding must decode to the same record.
#include <string>

#include "FuzzCheck.h"
#include "tandrel/foundation/Jsonable.h"
#if defined(STORE_SERVERS)
#include "tandrel/foundation/VornServicesDataModel.h"
using Model = VornServicesDataModel;
#elif defined(STORE_SESSIONS)
#include "tandrel/foundation/VornSessionsDataModel.h"
using Model = VornAppMultipleSessionsDataModel;
#elif defined(STORE_PREFERENCES)
#include "tandrel/foundation/VornEditorPreferencesDataModel.h"
using Model = VornEditorPreferencesDataModel;
#else
#error "which store?"
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto parsed = jsonable::parse(std::string(fuzzText(data, size)));
    if (!parsed) return 0;
    std::shared_ptr<Model> model;
    try {
        model = Model::from_json(*parsed);
    } catch (const DecodingError&) {
        return 0;
    }
    FUZZ_CHECK(model != nullptr);
    const auto text = model->toJsonString();
    FUZZ_CHECK(text);
    const auto reparsed = jsonable::parse(*text);
    FUZZ_CHECK(reparsed);
    std::shared_ptr<Model> again;
    try {
        again = Model::from_json(*reparsed);
    } catch (const DecodingError& e) {
        std::fprintf(stderr, "re-encoded record does not decode: %s\n", e.what());
        FUZZ_CHECK(false);
    }
    FUZZ_CHECK(again != nullptr);
    const auto textAgain = again->toJsonString();
    FUZZ_CHECK(textAgain);
    FUZZ_CHECK(*textAgain == *text);
    return 0;
}
