// Words for result codes and log-read steps.
#include "vuxodata.h"
#include "vuxoint.h"

extern "C" {

const char* vuxod_result_text(int code) {
    switch (code) {
    case VUXOD_E_ARGUMENT:
        return "invalid argument (nothing was sent)";
    case VUXOD_E_NO_DEVICE:
        return "no detected instrument on this connection";
    case VUXOD_E_SHORT:
        return "the instrument sent no data before the record was complete";
    case VUXOD_E_SIZE:
        return "record shorter than its layout";
    case VUXOD_E_CAPACITY:
        return "more entries than the entry array holds";
    case VUXOD_E_NO_MEMORY:
        return "out of memory";
    case VUXOD_E_STOPPED:
        return "stopped by the caller";
    case VUXOD_E_UNSORTED:
        return "skip pairs not in ascending (slot, key) order";
    case VUXOD_E_DATABASE:
        return "the database could not be used";
    case VUXOD_E_GONE:
        return "the instrument stopped answering";
    case VUXOD_E_ANSWER:
        return "an answer of the wrong size for its request";
    default:
        // Every other code is the device library's, passed up unchanged.
        return vuxo_strerror(code);
    }
}

const char* vuxod_step_text(int step) {
    switch (step) {
    case VUXOD_STEP_NONE:
        return "";
    case VUXOD_STEP_ENTRY_COUNT:
        return "reading the entry count";
    case VUXOD_STEP_ENTRY_LIST:
        return "reading the entry list";
    case VUXOD_STEP_RECORD:
        return "fetching a record";
    case VUXOD_STEP_CALLBACK:
        return "stopped by the caller";
    case VUXOD_STEP_IDENTIFY:
        return "identifying the instrument";
    case VUXOD_STEP_DATABASE:
        return "using the database";
    default:
        return "unknown step";
    }
}

} // extern "C"
