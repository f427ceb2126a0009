#pragma once
// A saved server's address as the user typed it, turned into the address the app stores and
// connects to. One function does it for every road: the server form's check, the record it
// saves, the connect of a saved server and the connectors, so that an address that passes the
// form also connects, and one that does not is refused with a message that says what is wrong.
//
// The address keeps what was typed and escaped what a URL cannot hold as it is (the path's
// blanks, quotes, non-ASCII bytes, a lone "%"), as a browser escapes an address bar; escapes
// already there stay as they are ("http://host/web files/" -> "http://host/web%20files/", and
// that again gives itself). The schemes each connection type accepts come from one table.
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "tandrel/foundation/EnumManager.h"
#include "tandrel/foundation/VornError.h"

namespace server_address {

using ConnectionType = EnumManager::VornConnectionType;

// One scheme a connection type accepts; `label` names the type in messages.
struct Scheme {
    std::string_view name;
    ConnectionType type;
    std::string_view label;
};
// Every scheme the app connects with, in the order the messages list them.
std::span<const Scheme> schemes();
// The schemes a connection type accepts as a reader would list them: "ftp:// or ftps://" for
// FTP; every scheme of the table for a type without schemes of its own.
std::string scheme_list(ConnectionType type);

// Why a typed address was refused (the codes of the errors of domain kDomain).
enum class Problem { empty = 1, blanks_around, no_scheme, unknown_scheme, scheme_of_other_type, no_host, not_a_url };
inline constexpr const char* kDomain = "ServerAddress";
VornError error_for(Problem problem, std::string_view typed, ConnectionType type);
// The problem an error of this module stands for.
std::optional<Problem> problem_of(const VornError& error);

// The address to store and connect to for `typed`, or why there is none. For a type with
// schemes in the table the scheme must be one of them; for any other type (one the app has no
// connector for) any scheme of the table's form will do, and the connect says the rest.
Expected<std::string> from_typed(std::string_view typed, ConnectionType type);

}  // namespace server_address
