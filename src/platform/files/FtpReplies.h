#pragma once
// What an FTP server's replies mean: a refusal of a command on a file or folder, read from its
// code and its own words the same way for every command (DELE, RMD, RNFR, MKD, STOR...; a 550
// is the code of both "no such file" and "not allowed", only the words tell them apart), and a
// kept connection that the server closed while it sat idle.

#include <string_view>

#include "platform/files/CurlSupport.h"
#include "platform/files/FileError.h"

namespace files::detail {

// The kind of error for a refusal with this reply code and text ("No such file or directory."
// without its code): notFound where the words say the item is not there, permissionDenied for
// the other refusals of a file or name (550, 553, 532), loginRejected for 530, server otherwise.
ErrorKind ftpRefusalKind(long code, std::string_view text);

// Whether the words of a reply say that the file or folder is not there.
bool saysNotFound(std::string_view text);

// Whether a reply's text holds `lowerWord` (written in lower case), in any case.
bool replyHas(std::string_view text, std::string_view lowerWord);

// Whether a transfer failed only because the connection it reused had been closed by the server
// while it sat idle: vsftpd's "421 Timeout." (any 421) as the first and only reply, or the
// connection gone before any reply. Nothing of such a transfer reached the server: no reply to
// any command, no byte of a file sent or received. A new connection's failure is never one.
bool closedWhileIdle(const TransferResult& r);

}  // namespace files::detail
