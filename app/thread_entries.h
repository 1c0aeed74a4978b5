// Where the threads the program starts begin their work. An exception that
// work lets out fails it, the account under check or the clock's
// synchronisation, with the words for it (code 0), and the program goes on.
// The POP3 worker and the name lookups catch theirs themselves.
#pragma once

class Kel;
struct CheckEffects;
struct ClockEffects;

void checkThreadEntry(Kel& kel, const CheckEffects& effects);
void announcementThreadEntry(Kel& kel, const CheckEffects& effects);
void clockThreadEntry(Kel& kel, const ClockEffects& effects);
