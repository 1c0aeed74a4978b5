// A check of one account's INBOX over IMAP, with the results of a POP3 check.
#pragma once

struct SessionTask;

// Returns 0 when the session completed, 1 when it failed (or was given up).
int runImapSession(SessionTask& task);
// The same on a socket already connected in task.connection.sock.
int runImapSessionOnConnection(SessionTask& task);
