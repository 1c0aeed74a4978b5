// One pass over the nine account slots: each configured account's session
// in turn (mailcheck/account_check.h), then the totals, the tray outcome,
// and the announcement of new mail.
#pragma once

#include "mailcheck/account_check.h"

// The whole pass; sets checkState to Finished as its last act.
void runCheckCycle(Kel& kel, const CheckEffects& effects, const CheckTiming& timing = kCheckTiming);
