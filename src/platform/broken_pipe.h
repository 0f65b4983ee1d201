// A write to a connection the peer has closed raises SIGPIPE, which ends the process. Plain
// sockets avoid it with MSG_NOSIGNAL, but OpenSSL writes through write(), so a TLS connection
// needs the signal ignored; the failed write then reports EPIPE like any other broken connection.
#pragma once

namespace bsync {

// Ignores SIGPIPE for the whole process; safe to call from any thread, any number of times.
void IgnoreBrokenPipe();

}  // namespace bsync
