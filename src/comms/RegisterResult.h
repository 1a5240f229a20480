#pragma once

// Outcome of one register operation (one request/reply exchange). Callers treat
// only ResultGood as success; the other values stay distinct so that tools and
// tests can tell the failures apart.
using RegisterResult = int;

enum : RegisterResult {
    ResultGood = 1,         // a good reply arrived (a read has stored its values)
    ResultException = 2,    // the unit answered with an exception reply
    ResultNoReply = 0,      // nothing arrived within the timeout, or no connection
    ResultFailure = -1,     // anything else: malformed, foreign or short reply
    ResultClosedTwice = -2, // serial component closed a second time
};
