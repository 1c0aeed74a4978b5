// The lines of the server status dialog: every configured account's last
// result and kept mail, then the mail most recently deleted.
#pragma once

#include <string>
#include <vector>

class Kel;

// Taken under the check lock, so that a check running meanwhile shows
// either before or after an update, never half of one.
std::vector<std::string> serverStatusLines(Kel& kel);
