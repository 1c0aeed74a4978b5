// The lines of the server status dialog: every configured account's last
// result and kept mail, then the mail most recently deleted, then the
// clock's last synchronisation.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class Kel;

// The line shown for a failed account: the text of its ErrorCode, and that
// of code 0 for a code outside the table.
const char* errorCodeText(int32_t code);

// Taken under the check lock, so that a check running meanwhile shows
// either before or after an update, never half of one.
std::vector<std::string> serverStatusLines(Kel& kel);
