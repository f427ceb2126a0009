#pragma once
// The SDK's small shared operations: app-secret and target-token parsing, its name and version,
// archiving, JSON printing, dates, text limits and property validation.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tellium/util/TLMClock.h"
#include "tellium/util/TLMKeyedArchiver.h"

class TLMUtility {
public:
    // "appsecret=...;target=..." and the other forms of the secret string.
    static std::optional<std::string> appSecretFrom(const std::optional<std::string>& string);
    static std::optional<std::string> transmissionTargetTokenFrom(const std::optional<std::string>& string);
    static std::optional<std::string> targetKeyFromTargetToken(const std::optional<std::string>& token);
    static std::optional<std::string> iKeyFromTargetToken(const std::optional<std::string>& token);

    // 0 for a store build; 99 when the environment variable DRAVIX_APP_ENVIRONMENT is "99" (a test
    // build). Nothing on this platform carries a provisioning profile or a store receipt.
    static int currentAppEnvironment();
    static std::string sdkName();     // "tellium.cpp"
    static std::string sdkVersion();  // "4.4.2"

    // Keyed archives (see TLMKeyedArchiver). Unarchiving never throws; bad bytes give nothing.
    static void addMigrationClasses(const std::map<std::string, std::string>& oldToNew);
    static std::string archiveKeyedData(const TLMCoding& object);
    static std::string archiveKeyedArray(const std::vector<std::shared_ptr<TLMCoding>>& objects);
    static std::shared_ptr<TLMCoding> unarchiveKeyedData(std::string_view bytes);
    static std::optional<std::vector<std::shared_ptr<TLMCoding>>> unarchiveKeyedArray(std::string_view bytes);
    template <class T>
    static std::shared_ptr<T> unarchiveKeyedDataOfClass(std::string_view bytes) {
        return std::dynamic_pointer_cast<T>(unarchiveKeyedData(bytes));
    }

    // The bytes as pretty-printed JSON, or as text when they are not JSON; nothing for no input.
    static std::optional<std::string> prettyPrintJson(const std::optional<std::string>& bytes);
    // Every case-insensitive match of the pattern replaced by the template ($1 ... for groups);
    // nothing when the text is absent or the pattern does not compile (logged).
    static std::optional<std::string> obfuscateString(const std::optional<std::string>& text,
                                                      const std::string& pattern, const std::string& replacement);

    static double nowInMilliseconds();
    // "yyyy-MM-dd'T'HH:mm:ss.SSS'Z'" in UTC; and back (nothing for other text).
    static std::string dateToISO8601(TLMDate date);
    static std::optional<TLMDate> dateFromISO8601(std::string_view text);

    // Length of a UTF-8 text in UTF-16 code units (an invalid byte counts as one unit).
    static std::size_t utf16Length(std::string_view text);
    // The longest prefix of at most `units` UTF-16 code units, never splitting a character.
    static std::string truncateToUtf16Length(std::string_view text, std::size_t units);

    // A random UUID in its canonical upper-case text form.
    static std::string uuidString();
    static bool isValidUuid(std::string_view text);
};

inline constexpr std::size_t kTLMMaxPropertiesPerLog = 20;
inline constexpr std::size_t kTLMMaxPropertyKeyLength = 125;
inline constexpr std::size_t kTLMMaxPropertyValueLength = 125;

// The validated copy of a property dictionary: non-string keys or values and empty keys are
// skipped, only the first 20 entries pass, longer keys and values are cut to 125 UTF-16 units.
std::map<std::string, std::string> TLMValidateProperties(const TLMJson& properties, const std::string& logName,
                                                         const std::string& logType);
