// The transport started for one test and shut at its end.
#ifndef VUXO_TRANSPORT_TEST_STARTED_H
#define VUXO_TRANSPORT_TEST_STARTED_H

#include "comm.h"

namespace ttest {

struct Started {
    Started() { comm_init(nullptr, 0, 0); }
    ~Started() { comm_shut(); }
};

} // namespace ttest

#endif
