// The server status dialog's lines for the clock: its last synchronisation.
#pragma once

#include <string>
#include <vector>

class Kel;

// "時刻合わせ" and "  MM/DD HH:MM " with what the last synchronisation came
// to; nothing before a first one or while the server is empty. The caller
// holds the check lock.
void appendClockLines(const Kel& kel, std::vector<std::string>& out);
