/*
 * vuxodata: the instrument's measurement data, read and decoded in one place.
 *
 * The record layer on top of libvuxoint. It reads the entry count and the entry
 * list, fetches measurement records (V1: log entries; V2: measurement files read
 * in chunks), decodes both generations' record layouts into one plain struct
 * (vuxod_measurement) and reads a whole log with a callback per record. Everything
 * above this layer reads the struct, never the record bytes.
 *
 * Usage:
 *   vuxo_library_init(); vuxo_connect(..., &conn_id, 5000, ...);
 *   vuxod_session s;
 *   if (vuxod_session_open(&s, conn_id) == VUXOD_OK) {
 *       vuxod_log_options o;
 *       vuxod_log_options_init(&o);
 *       o.on_record = store_it;          // called once per fetched record
 *       o.skip = already_held;           // optional
 *       vuxod_log_report r;
 *       int rc = vuxod_read_log(&s, &o, &r);
 *       if (rc != VUXOD_OK)
 *           fprintf(stderr, "%s of slot %d: %s\n", vuxod_step_text(r.step), r.slot,
 *                   vuxod_result_text(rc));
 *   }
 *   vuxo_disconnect(conn_id); vuxo_library_shut();
 *
 * Results: every function that can fail returns an int, VUXOD_OK (0) on success.
 * A nonzero result is one of
 *   VUXOD_FAILED (1)       the instrument reported a failure or sent an error message
 *   VUXOD_NO_ANSWER (255)  no answer within the command's time-out after every attempt
 *   -1 .. -4095            passed up unchanged from libvuxoint: -1 is an argument it
 *                          refused without sending; others are the transport's
 *                          negated COMM_E* number, the same on every platform
 *                          (for example -COMM_ENOTCONN for a closed link)
 *   VUXOD_E_* (below -10000)  this layer's own refusals and findings, listed below
 * vuxod_result_text() turns any of them into words.
 *
 * Threads: every function runs on its caller's thread and, where it talks to the
 * instrument, blocks until the instrument answered or libvuxoint gave up. The
 * callbacks of vuxod_read_log run on the thread that called it, between two
 * commands, so they may take their time (a database write) but must not send
 * commands on the same connection. Do not call these functions from libvuxoint's
 * connection callbacks (they run on the transport's thread). As with libvuxoint,
 * the commands of one connection must not run concurrently: one session, one
 * thread at a time; different sessions may run on different threads at once.
 * The layer keeps no global state and takes no lock, except that vuxod_sync
 * stores records on a thread of its own while it fetches the next (that thread
 * ends before vuxod_sync returns; every callback still runs on the caller's).
 *
 * Memory: buffers and structs are the caller's. Only vuxod_sync (its database
 * connection and the list of what is held), vuxod_export (its database connection
 * and one row at a time), vuxod_conn_strings (the USB listing) and vuxod_read_log
 * allocate: its
 * working copy of the entry list and the download order (12 bytes an entry, at
 * most 128,000 entries, so at most 1.5 MiB) and one vuxod_measurement, freed
 * before it returns. Nothing here prints, logs or raises an exception; only
 * vuxod_export writes, to the output its caller names.
 *
 * Sizes are in bytes. All numbers in the instrument's data are little-endian; the
 * layer decodes them whatever the host's byte order.
 */
#ifndef VUXODATA_H
#define VUXODATA_H

#include <stddef.h>
#include <stdint.h>

#include "vuxo_export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Result codes ------------------------------------------------------- */

enum vuxod_result {
    VUXOD_OK = 0,
    /* libvuxoint's command results, passed up unchanged. */
    VUXOD_FAILED = 1,
    VUXOD_NO_ANSWER = 255,
    /* This layer's own codes. */
    VUXOD_E_ARGUMENT = -10001,  /* a NULL pointer, a buffer too small or a value out of
                                   range; nothing was sent */
    VUXOD_E_NO_DEVICE = -10002, /* no live connection with a detected instrument has
                                   this id (vuxo_get_type answered -1) */
    VUXOD_E_SHORT = -10003,     /* a V2 file read brought no bytes before the record
                                   was complete */
    VUXOD_E_SIZE = -10004,      /* a record is shorter than its generation's layout */
    VUXOD_E_CAPACITY = -10005,  /* the entry count exceeds the caller's array */
    VUXOD_E_NO_MEMORY = -10006, /* vuxod_read_log could not allocate its working copy */
    VUXOD_E_STOPPED = -10007,   /* a callback returned nonzero and so ended the read */
    VUXOD_E_UNSORTED = -10008,  /* the skip pairs are not in ascending (slot, key) order */
    VUXOD_E_DATABASE = -10009,  /* vuxod_sync: the database could not be opened, read
                                   or written (its summary says which and why) */
    VUXOD_E_GONE = -10010,      /* the instrument stopped answering: no answer to a
                                   read and then none to the firmware-version requests
                                   that should follow it, or several records in a row
                                   unanswered. Close the connection: an answer still
                                   owed may arrive on it at any time */
    VUXOD_E_ANSWER = -10011,    /* an answer of another size than its request calls for
                                   (a record, a page of the entry list, a parameter
                                   block too short to hold the entry count, a file chunk
                                   whose count differs from the length asked for);
                                   nothing of it was used */
    VUXOD_E_CONN_FORM = -10012, /* vuxod_conn_strings: the text is no connection form */
    VUXOD_E_NOT_FOUND = -10013, /* vuxod_conn_strings: no USB instrument found */
    VUXOD_E_OUTPUT = -10014     /* vuxod_export: the output could not be written */
};

/* Words for any result of this layer or of libvuxoint: a static, NUL-terminated
 * English text, never NULL ("success", "the instrument reported a failure", "no
 * answer from the instrument", the text of a transport error number, ...). Safe
 * from any thread. */
VUXOD_API const char* vuxod_result_text(int code);

/* ---- Bytes shown as text ------------------------------------------------ */

/* The instrument's serial number and firmware version are raw bytes (8 each),
 * stored and compared as such; file names need not be UTF-8 either. Every front
 * shows them through this one rule, so that the text is always valid UTF-8 and
 * the same everywhere: printable ASCII and well-formed UTF-8 of printable
 * characters (U+00A0 and up) stay as they are, a backslash becomes "\\", and
 * every other byte "\xNN" (two uppercase hex digits). Escapes the `size` bytes
 * at `text` into out[0 .. out_size - 1], always NUL-terminated when out_size > 0
 * (out may be NULL with out_size 0), and returns the length of the whole escaped
 * text without the NUL, like snprintf: a result >= out_size means it was cut
 * short. Four bytes per input byte always suffice. */
VUXOD_API size_t vuxod_escape_text(const char* text, size_t size, char* out, size_t out_size);

/* The reverse, for what a user typed back: "\\" and "\xNN" (either case of hex
 * digits) become their byte, everything else is copied. NUL-terminated text in;
 * out and the result as for vuxod_escape_text (the result never exceeds
 * strlen(text)). "\x00" gives a NUL byte inside out: take the length from the
 * result, not from strlen. */
VUXOD_API size_t vuxod_unescape_text(const char* text, char* out, size_t out_size);

/* ---- Generations and sizes --------------------------------------------- */

/* The values of vuxo_get_type(). */
enum vuxod_generation { VUXOD_V1 = 0, VUXOD_V2 = 1 };

#define VUXOD_V1_RECORD_SIZE 828  /* a V1 log entry */
#define VUXOD_V2_RECORD_SIZE 4063 /* a V2 measurement file */
#define VUXOD_RECORD_MAX 4063     /* room for a record of either generation */
#define VUXOD_V1_MAX_VALUES 180   /* scan values a V1 record holds */
#define VUXOD_V2_MAX_VALUES 480   /* scan value pairs a V2 record holds */
#define VUXOD_MAX_VALUES 480
#define VUXOD_V1_MAX_ENTRIES 65536 /* entries the largest V1 log has */
#define VUXOD_V2_MAX_ENTRIES 128000
#define VUXOD_UNITS_SIZE 8 /* each units text, NUL included */

/* V2 file reads: the largest chunk a read answer carries, and the chunk used
 * after an instrument refused a larger one. */
#define VUXOD_CHUNK_LARGE 3996
#define VUXOD_CHUNK_SMALL 450

/* ---- The decoded measurement ------------------------------------------- */

/* Kinds (record flags bits 0-1). */
enum vuxod_kind {
    VUXOD_KIND_NONE = 0,
    VUXOD_KIND_SINGLE = 1,
    VUXOD_KIND_SCAN = 2,
    VUXOD_KIND_OTHER = 3
};

/* One measurement of either generation. Fields a generation does not have are 0
 * (or "" for texts). About 8.5 KiB: fine on a stack, but keep one and reuse it
 * in loops. */
typedef struct vuxod_measurement {
    int32_t generation; /* VUXOD_V1 or VUXOD_V2 */
    int32_t number;     /* the instrument's measurement number */
    int32_t id;         /* the measurement's id (shown for single measurements) */
    int32_t year, month, day, hour, minute, second; /* when it was taken, as stored */
    int32_t kind;                                   /* enum vuxod_kind */
    uint8_t record_flags; /* the whole flags byte (kind, V1 units and curve bits) */
    uint8_t unit_bits;    /* V2: 0x04 susceptibility in CGS, 0x08 conductivity in
                             Ohm.m (each only when its curve is 0); V1: 0 */
    uint8_t curve_s;      /* V1: the curve (flags >> 4); V2: the susceptibility curve */
    uint8_t curve_c;      /* V2: the conductivity curve; V1: 0 */
    uint8_t pin;
    uint8_t error;
    uint8_t diameter;
    uint8_t tag;          /* V2 only */
    float susceptibility; /* V1: kappa; V2: susceptibility */
    float conductivity;   /* V2 only */
    /* Units: V1 "%" when any of flag bits 2-4 is set, else "SI". V2 susceptibility
     * "%" (curve_s nonzero), "CGS" or "SI"; conductivity "%" (curve_c nonzero),
     * "Ohm.m" or "S/m". V1 leaves cond_units "". */
    char susc_units[VUXOD_UNITS_SIZE];
    char cond_units[VUXOD_UNITS_SIZE];
    int32_t first_count; /* as stored */
    int32_t value_count; /* as stored: may be negative or above the record's room */
    /* Scan values: value_count clamped to 0 .. 180 (V1) or 0 .. 480 (V2), decoded
     * whatever the kind; entries past values_decoded are 0. */
    int32_t values_decoded;
    float susc_values[VUXOD_MAX_VALUES]; /* V1: the scan values; V2: susceptibility */
    float cond_values[VUXOD_MAX_VALUES]; /* V2 only */
    uint8_t marks[VUXOD_MAX_VALUES];     /* 1 where value (pair) i is marked, else 0 */
    /* The record exactly as the instrument sent it. */
    uint32_t raw_size; /* 828 (V1) or 4063 (V2) */
    uint8_t raw[VUXOD_RECORD_MAX];
    uint8_t reserved[64]; /* 0; room for later fields */
} vuxod_measurement;

/* Decode one record into *m (every field is written; raw receives a copy of the
 * record's first 828 or 4063 bytes). `size` is the number of valid bytes at
 * `record`; bytes past the layout are ignored. VUXOD_OK, VUXOD_E_SIZE when size
 * is below the layout, VUXOD_E_ARGUMENT for a NULL pointer or an unknown
 * generation. */
VUXOD_API int vuxod_decode_v1(const uint8_t* record, size_t size, vuxod_measurement* m);
VUXOD_API int vuxod_decode_v2(const uint8_t* record, size_t size, vuxod_measurement* m);
VUXOD_API int vuxod_decode(int generation, const uint8_t* record, size_t size,
                           vuxod_measurement* m);

/* ---- Sessions ------------------------------------------------------------ */

/* What the layer knows about one connection. Caller-owned, plain data: open it
 * after vuxo_connect succeeded and keep it for as long as the connection lives,
 * so that what was learned (the chunk size) holds for the rest of the
 * connection. No resources are held: there is nothing to close. */
typedef struct vuxod_session {
    int32_t conn_id;
    int32_t generation;  /* VUXOD_V1 or VUXOD_V2 */
    int32_t chunk;       /* V2 file read size in use: VUXOD_CHUNK_LARGE, or
                            VUXOD_CHUNK_SMALL once the instrument refused large reads
                            twice in a row; a caller may set VUXOD_CHUNK_SMALL itself */
    uint32_t reads;      /* records fetched so far: V2 chunk lengths vary with it */
    int32_t refusals;    /* large reads refused in a row */
    int32_t reserved[3]; /* 0 */
} vuxod_session;

/* Fills *s for conn_id, asking vuxo_get_type() for the generation. VUXOD_OK, or
 * VUXOD_E_NO_DEVICE when the connection is gone or its instrument not detected
 * yet (*s is then zeroed with conn_id -1). Sends nothing. */
VUXOD_API int vuxod_session_open(vuxod_session* s, int conn_id);

/* ---- The entry list ------------------------------------------------------ */

/* Entry i of the list describes log slot i. */
typedef struct vuxod_entry {
    int32_t slot;  /* the log index the record is fetched by */
    uint32_t key;  /* 0: the slot is empty; records are read in ascending key order */
    uint8_t flags; /* bit 0: a note is attached */
    uint8_t pad[3];
} vuxod_entry;

#define VUXOD_ENTRY_NOTE 0x01

/* Reads the parameter block (4096 bytes V1, 4319 V2, in a buffer of the call's
 * own) and stores its entry count in *count. Tried three times; a block too short
 * to hold the count is VUXOD_E_ANSWER. The last result on failure; *count is then
 * untouched. */
VUXOD_API int vuxod_entry_count(const vuxod_session* s, uint32_t* count);

/* Progress: `done` of `total` steps of `phase` (enum vuxod_phase). */
enum vuxod_phase { VUXOD_PHASE_ENTRIES = 0, VUXOD_PHASE_RECORDS = 1 };
typedef void (*vuxod_progress_fn)(int phase, uint32_t done, uint32_t total, void* user);

/* Reads entries 0 .. count - 1 page by page (128 entries a page for V1, 32 for
 * V2) into entries[0 .. count - 1]; entries[i].slot is i. capacity is the
 * array's length in entries; count above it gives VUXOD_E_CAPACITY and nothing
 * is sent. progress (may be NULL) is called with VUXOD_PHASE_ENTRIES after each
 * page, as pages done of pages in all. Each page is tried three times and must
 * hold every entry below count (else VUXOD_E_ANSWER). On a failed page its last
 * result is returned and *pages_done (may be NULL) says how many pages arrived:
 * entries before pages_done * page size are valid. */
VUXOD_API int vuxod_read_entries(const vuxod_session* s, uint32_t count, vuxod_entry* entries,
                                 uint32_t capacity, uint32_t* pages_done,
                                 vuxod_progress_fn progress, void* user);

/* Reads entry `slot` alone, with the one page of the list that holds it (for
 * the slot a new-measurement message names), into *entry (slot, key, flags).
 * VUXOD_E_ARGUMENT for a NULL pointer or a slot outside 0 .. the generation's
 * largest log - 1 (nothing sent); otherwise the instrument's result, *entry
 * untouched on failure. */
VUXOD_API int vuxod_read_entry(const vuxod_session* s, int32_t slot, vuxod_entry* entry);

/* The download order: writes to slots[] the slot numbers of the entries worth
 * fetching (key neither 0 nor 0xFFFFFFFF) in ascending key order, equal keys by
 * ascending slot, and returns how many. slots must hold `count` elements. Pure
 * computation: sends nothing, allocates nothing. */
VUXOD_API uint32_t vuxod_download_order(const vuxod_entry* entries, uint32_t count, int32_t* slots);

/* ---- Fetching one record ------------------------------------------------- */

/* Fetches the record of log slot `slot` into record[0 .. capacity - 1], which
 * must hold the generation's record size (VUXOD_RECORD_MAX fits both); *size
 * (may be NULL) receives the bytes fetched (828 or 4063).
 * V1: one log-entry request, whose answer must be exactly 828 bytes. V2: the file
 * "meas/meas%.4d.dat" of the slot (slot -1: "meas/last.dat"), read in chunks of up
 * to s->chunk bytes (less 0 to 7, varying from record to record) from consecutive
 * offsets until 4063 bytes arrived; every chunk answer must bring exactly the
 * length asked for. When a read larger than VUXOD_CHUNK_SMALL is refused
 * (VUXOD_FAILED: a failure status or an error message), the same offset is asked
 * again with a small read; when that succeeds after two refusals in a row, s->chunk
 * becomes VUXOD_CHUNK_SMALL for the rest of the connection (a failure of both, a
 * missing file say, leaves it alone). An answer of another size gives
 * VUXOD_E_ANSWER, a chunk answer with no bytes VUXOD_E_SHORT, an instrument that
 * stopped answering VUXOD_E_GONE (see the rule for late answers in docs/record-layer.md);
 * otherwise the first failing request's result. */
VUXOD_API int vuxod_fetch_record(vuxod_session* s, int32_t slot, uint8_t* record, size_t capacity,
                                 size_t* size);

/* The note attached to a V1 measurement (entry flag VUXOD_ENTRY_NOTE): its length
 * from the note information, then its text in chunks, every answer checked for the
 * size asked. text receives the note's bytes as the instrument keeps them (no NUL is
 * added) and *size their number, 0 for an empty note. A note longer than capacity
 * (VUXOD_NOTE_MAX holds any) gives VUXOD_E_CAPACITY. V2 instruments mark notes in
 * their entry list but offer no command to read them: VUXOD_E_ARGUMENT, nothing sent. */
#define VUXOD_NOTE_MAX 4096
VUXOD_API int vuxod_fetch_note(const vuxod_session* s, int32_t slot, uint8_t* text, size_t capacity,
                               size_t* size);

/* vuxod_fetch_record into m->raw, then the generation's decoding into *m. */
VUXOD_API int vuxod_fetch_measurement(vuxod_session* s, int32_t slot, vuxod_measurement* m);

/* ---- Reading a whole log ------------------------------------------------- */

/* A skip pair: the record of `slot` whose entry carries `key` is not fetched. */
typedef struct vuxod_slot_key {
    int32_t slot;
    uint32_t key;
} vuxod_slot_key;

/* Sorts pairs into the ascending (slot, key) order that vuxod_log_options.skip_pairs
 * needs. Allocates nothing. */
VUXOD_API void vuxod_sort_slot_keys(vuxod_slot_key* pairs, size_t count);

/* One fetched record, handed to on_record. Valid only during the call. */
typedef struct vuxod_record {
    int32_t slot;
    uint32_t key;
    uint8_t entry_flags;        /* the entry's flags (VUXOD_ENTRY_NOTE) */
    const uint8_t* raw;         /* == m->raw */
    size_t raw_size;            /* == m->raw_size */
    const vuxod_measurement* m; /* the decoded record */
    /* V1: the note when the entry carries one (vuxod_read_log fetches it with the
     * record, and a record whose note cannot be read fails as a whole); else NULL. */
    const uint8_t* note;
    size_t note_size;
} vuxod_record;

/* Return 0 to go on; nonzero ends the read with VUXOD_E_STOPPED (the record was
 * delivered, so it counts as fetched). */
typedef int (*vuxod_record_fn)(const vuxod_record* record, void* user);
/* Nonzero: do not fetch this (slot, key). */
typedef int (*vuxod_skip_fn)(int32_t slot, uint32_t key, void* user);
/* With VUXOD_LOG_KEEP_GOING: a record that could not be fetched, and why. Return
 * 0 to go on, nonzero to stop with VUXOD_E_STOPPED. */
typedef int (*vuxod_failure_fn)(int32_t slot, uint32_t key, int code, void* user);

/* Flags of vuxod_log_options. */
/* KEEP_GOING: a record the instrument failed to deliver (VUXOD_FAILED,
 * VUXOD_NO_ANSWER, VUXOD_E_SHORT) is reported to on_failure and the read goes on
 * with the next one. Entry count and list failures, and negative results (the
 * connection is gone), still stop the read. */
#define VUXOD_LOG_KEEP_GOING 0x01u

typedef struct vuxod_log_options {
    uint32_t struct_size;       /* sizeof(vuxod_log_options); set by _init */
    uint32_t flags;             /* VUXOD_LOG_* */
    vuxod_record_fn on_record;  /* may be NULL */
    vuxod_progress_fn progress; /* may be NULL */
    vuxod_skip_fn skip;         /* may be NULL */
    /* Pairs not to fetch, in ascending (slot, key) order (vuxod_sort_slot_keys);
     * may be NULL with skip_count 0. Used together with skip: a record is skipped
     * when either says so. Read, never written. */
    const vuxod_slot_key* skip_pairs;
    size_t skip_count;
    vuxod_failure_fn on_failure; /* may be NULL */
    void* user;                  /* handed to every callback */
} vuxod_log_options;

/* Zeroes *o and sets struct_size: no callbacks, no skipping, stop on failure. */
VUXOD_API void vuxod_log_options_init(vuxod_log_options* o);

/* Steps of a log read, for the report. */
enum vuxod_step {
    VUXOD_STEP_NONE = 0,
    VUXOD_STEP_ENTRY_COUNT = 1, /* reading the parameter block */
    VUXOD_STEP_ENTRY_LIST = 2,  /* reading a page of the entry list */
    VUXOD_STEP_RECORD = 3,      /* fetching a record */
    VUXOD_STEP_CALLBACK = 4,    /* a callback asked to stop */
    VUXOD_STEP_IDENTIFY = 5,    /* vuxod_sync: identifying the instrument */
    VUXOD_STEP_DATABASE = 6     /* vuxod_sync: using the database */
};
/* "reading the entry count", "reading the entry list", "fetching a record",
 * "stopped by the caller", "identifying the instrument", "using the database", ""
 * for VUXOD_STEP_NONE. Static text. */
VUXOD_API const char* vuxod_step_text(int step);

/* What a log read did. Every field is written, also on failure. */
typedef struct vuxod_log_report {
    int32_t code;          /* the result vuxod_read_log returned */
    int32_t step;          /* enum vuxod_step of the first failure, else VUXOD_STEP_NONE */
    int32_t slot;          /* the record that failed (VUXOD_STEP_RECORD or _CALLBACK),
                              or the first entry of the failed page; else -1 */
    uint32_t key;          /* that record's key, else 0 */
    uint32_t entry_count;  /* as the instrument reported it */
    uint32_t entries_read; /* entries considered: entry_count, limited to the
                              generation's largest log */
    uint32_t to_fetch;     /* records in the download order, less the skipped */
    uint32_t skipped;      /* records skipped at the caller's request */
    uint32_t fetched;      /* records delivered to on_record */
    uint32_t failed;       /* records that could not be fetched (more than 1 only
                              with VUXOD_LOG_KEEP_GOING) */
    uint32_t reserved[6];  /* 0; room for later fields */
} vuxod_log_report;

/* Reads the log of the session's connection: the entry count, the entry list
 * (entries beyond the generation's largest log, 65,536 V1 or 128,000 V2, are
 * ignored and the report shows it), then every record in download order (see
 * vuxod_download_order) that neither skip nor skip_pairs excludes. For each, in
 * order: fetch, decode, on_record, then progress(VUXOD_PHASE_RECORDS, done,
 * to_fetch). Before the first record progress reports (VUXOD_PHASE_RECORDS, 0,
 * to_fetch); while the list is read it reports its pages.
 * Stops at the first failed call and returns its result, with the step, slot and
 * key in *report (may be NULL); records delivered before stay delivered. With
 * VUXOD_LOG_KEEP_GOING a failed record is reported to on_failure and counted, and
 * the result at the end is the first failed record's code (VUXOD_OK when none
 * failed). VUXOD_E_ARGUMENT for NULL s or o or a struct_size too small;
 * VUXOD_E_UNSORTED when skip_pairs is out of order; VUXOD_E_NO_MEMORY. */
VUXOD_API int vuxod_read_log(vuxod_session* s, const vuxod_log_options* o,
                             vuxod_log_report* report);

/* ---- Sync into a database ------------------------------------------------ */

/* vuxod_sync keeps an SQLite file (created when missing, WAL mode) holding every
 * measurement ever fetched from any instrument: tables instruments, measurements
 * (unique on instrument, slot and key; every decoded field, the raw record, the
 * time taken as ISO 8601 text) and scan_values, versioned with PRAGMA
 * user_version. Nothing stored is ever changed or deleted. */

/* Nonzero: stop after the record being stored. Polled after every record. */
typedef int (*vuxod_stop_fn)(void* user);
/* The connection was lost: close old_conn_id, open the same instrument again and put
 * the new connection's id in *new_conn_id. 0 on success; nonzero gives up. */
typedef int (*vuxod_reconnect_fn)(int old_conn_id, int* new_conn_id, void* user);

typedef struct vuxod_sync_options {
    uint32_t struct_size; /* sizeof(vuxod_sync_options); set by _init */
    uint32_t flags;       /* 0 */
    /* The instrument's serial number and firmware version, as the raw bytes the
     * instrument sent, when the caller has read them already; NULL: vuxod_sync
     * reads them. The serial's bytes are the instrument's identity in the file. */
    const char* serial;
    const char* firmware;
    vuxod_progress_fn progress;  /* as vuxod_read_log's; may be NULL */
    vuxod_failure_fn on_failure; /* each record that could not be fetched; may be NULL */
    vuxod_stop_fn stop;          /* may be NULL */
    void* user;                  /* handed to every callback */
} vuxod_sync_options;

/* Zeroes *o and sets struct_size. */
VUXOD_API void vuxod_sync_options_init(vuxod_sync_options* o);

/* What went wrong with the database (vuxod_sync_summary.db_step). */
enum vuxod_db_step {
    VUXOD_DB_NONE = 0,
    VUXOD_DB_OPEN = 1,       /* opening, creating or upgrading the file */
    VUXOD_DB_READ = 2,       /* reading what is held */
    VUXOD_DB_INSTRUMENT = 3, /* recording the instrument */
    VUXOD_DB_STORE = 4       /* storing the record of `slot` */
};

/* What a sync did. Every field is written, also on failure. */
typedef struct vuxod_sync_summary {
    int32_t code;          /* the result vuxod_sync returned */
    int32_t step;          /* enum vuxod_step of the failure that ended the sync or of
                              the first failed record; VUXOD_STEP_NONE when all went well */
    int32_t slot;          /* the record (or first entry of the page) concerned, else -1 */
    uint32_t key;          /* that record's key, else 0 */
    int32_t db_step;       /* enum vuxod_db_step, VUXOD_DB_NONE unless code is
                              VUXOD_E_DATABASE */
    int32_t generation;    /* VUXOD_V1 or VUXOD_V2, -1 before identification */
    uint32_t entry_count;  /* as the instrument reported it */
    uint32_t stored;       /* new records stored by this sync */
    uint32_t already_held; /* records the database held before */
    uint32_t failed;       /* records that could not be fetched */
    char serial[16];       /* the instrument's serial number, NUL-terminated: its raw
                              bytes (vuxod_escape_text shows them) */
    char firmware[16];
    char db_error[256];   /* the database's words for a VUXOD_E_DATABASE failure */
    uint32_t not_fetched; /* records the instrument lists that this sync never asked for,
                             since it ended first; the next sync fetches them. Every
                             non-empty entry is stored, already_held, failed or
                             not_fetched */
    uint32_t reserved[7]; /* 0 */
} vuxod_sync_summary;

/* The incremental sync of the connection's log into the SQLite file at db_path:
 * reads the entry count and the entry list, fetches only the (slot, key) pairs
 * the file does not hold, and stores the records as they arrive, on a writer
 * thread while the next is fetched: what is waiting when the writer turns to it
 * (at most a few dozen records) goes into one transaction. An interrupted sync
 * keeps what it committed and counts nothing else as stored; the next one fetches
 * the rest. A slot whose key changed is a new measurement. A record the
 * instrument fails to deliver is reported to on_failure and the sync goes on;
 * records that failed get one more pass at the end. A lost connection, or an
 * instrument that stopped answering, ends it (vuxod_sync_recovering below can open
 * it again and go on).
 * Returns VUXOD_OK when every record missing from the file was stored;
 * VUXOD_E_DATABASE when the file could not be used (the summary's db_step and
 * db_error say how); VUXOD_E_STOPPED when stop or on_failure asked to stop;
 * otherwise the failure that ended the sync or the first failed record's result,
 * with the step, slot and key in *summary (may be NULL). Runs on the caller's
 * thread like vuxod_read_log; the callbacks too. */
VUXOD_API int vuxod_sync(int conn_id, const char* db_path, const vuxod_sync_options* o,
                         vuxod_sync_summary* summary);

/* How a sync recovers: more passes over failed records, and a lost connection opened
 * again by the caller. */
typedef struct vuxod_recovery {
    uint32_t struct_size;         /* sizeof(vuxod_recovery); set by _init */
    int32_t retries;              /* further passes over the records that failed, at the
                                     end; _init: 1 */
    int32_t reconnects;           /* how often a lost connection is opened again through
                                     reconnect; _init: 2 */
    int32_t reconnect_pause_ms;   /* pause before each reconnection; _init: 1000 */
    vuxod_reconnect_fn reconnect; /* may be NULL: a lost connection ends the sync */
    uint32_t reserved[8];         /* 0 */
} vuxod_recovery;

/* Zeroes *r, sets struct_size and the defaults above. */
VUXOD_API void vuxod_recovery_init(vuxod_recovery* r);

/* vuxod_sync with the recovery r (NULL: _init's defaults, without reconnect); the
 * reconnect callback gets o->user. vuxod_sync is this with r NULL. */
VUXOD_API int vuxod_sync_recovering(int conn_id, const char* db_path, const vuxod_sync_options* o,
                                    const vuxod_recovery* r, vuxod_sync_summary* summary);

/* ---- Connection forms ---------------------------------------------------- */
/* CONN, the instrument address every front takes, in the forms a user types:
 *   tcp://HOST:PORT          (an IPv6 HOST in brackets: tcp://[::1]:5000)
 *   /dev/ttyUSB0             a serial port by its path (text beginning "/", "./", "../")
 *   bt://XX:XX:XX:XX:XX:XX   a paired instrument over Bluetooth
 *   usb                      the first instrument found on USB
 *   usb:SERIAL               the USB instrument with that USB serial number
 *   SER:... NET:... BT:... USBF:... USBS:... USBU:...
 *                            a connection string, used unchanged once the
 *                            transport's own parser accepts it
 * Writes the connection strings to try, in order, to out (capacity strings of
 * VUXO_CONN_STRING_SIZE bytes each, NUL-terminated) and their number to *count.
 * usb and usb:SERIAL list the USB instruments (libvuxoint must be started);
 * nothing else is sent or opened. On failure `why` (may be NULL) receives the
 * whole message a front prints after "vuxoint: " (CONN "x": empty, usb: list USB
 * instruments: none found, ...), NUL-terminated and cut to why_size:
 *   VUXOD_E_CONN_FORM  the text is none of the forms (a usage error)
 *   VUXOD_E_NOT_FOUND  usb or usb:SERIAL found no USB instrument
 *   otherwise libvuxoint's result for building the string. */
VUXOD_API int vuxod_conn_strings(const char* conn, char* out, int capacity, int* count, char* why,
                                 size_t why_size);
/* The forms above as lines for a --help text. Static text. */
VUXOD_API const char* vuxod_conn_forms_help(void);

/* ---- Export -------------------------------------------------------------- */
/* The database's measurements as CSV (RFC 4180, CRLF), a JSON array or NDJSON,
 * in the documented export format (docs/export-format.md) whose version
 * VUXOD_EXPORT_FORMAT_VERSION every row carries in its format_version column. */
#define VUXOD_EXPORT_FORMAT_VERSION 2
/* Flags of vuxod_export_options.
 * VALUES: one row per reading (a scan's profile, a single measurement's readings)
 *   instead of one per measurement.
 * SI: CGS susceptibility x 4 pi to SI, a resistivity in Ohm.m to a conductivity
 *   1/rho in S/m; "%" values stay as they are.
 * KEY_ORDER: the instrument's key order instead of time order. */
#define VUXOD_EXPORT_VALUES 0x01u
#define VUXOD_EXPORT_SI 0x02u
#define VUXOD_EXPORT_KEY_ORDER 0x04u
/* Takes `size` bytes of the export; 0 when written, nonzero ends the export with
 * VUXOD_E_OUTPUT. */
typedef int (*vuxod_sink_fn)(const char* bytes, size_t size, void* user);
/* A warning line (no "vuxoint: " prefix, no newline) that does not stop the export. */
typedef void (*vuxod_notice_fn)(const char* text, void* user);
typedef struct vuxod_export_options {
    uint32_t struct_size;   /* sizeof(vuxod_export_options); set by _init */
    uint32_t flags;         /* VUXOD_EXPORT_* */
    const char* format;     /* "csv", "json" or "ndjson"; NULL: "csv" */
    const char* instrument; /* one instrument's serial number as shown (\xNN escapes
                               allowed), NULL: all */
    const char* since;      /* YYYY-MM-DD[THH:MM[:SS]], NULL: no bound */
    const char* until;      /* the same; a date alone includes its whole day */
    /* Where the bytes go: sink when it is not NULL; else the file at output
     * (replaced only once the export is complete; a FIFO or a device is written
     * through); else, output NULL or "-", the process's standard output. */
    const char* output;
    vuxod_sink_fn sink;
    vuxod_notice_fn notice; /* may be NULL */
    void* user;             /* handed to sink and notice */
} vuxod_export_options;
/* Zeroes *o and sets struct_size: CSV of every measurement in time order. */
VUXOD_API void vuxod_export_options_init(vuxod_export_options* o);
/* Exports the database at db_path (read only: nothing is created or changed).
 * VUXOD_OK; VUXOD_E_ARGUMENT for a format, date or period the export does not
 * take; VUXOD_E_DATABASE when the file is missing, not a vuxoint database or
 * cannot be read; VUXOD_E_OUTPUT when the output cannot be created or written (or
 * the sink refused). On failure `message` (may be NULL) receives the words a
 * front prints after "vuxoint: ", NUL-terminated and cut to message_size. */
VUXOD_API int vuxod_export(const char* db_path, const vuxod_export_options* o, char* message,
                           size_t message_size);

/* The exit status every front gives a result of vuxod_export or
 * vuxod_conn_strings: 0 VUXOD_OK; 2 a usage error (VUXOD_E_ARGUMENT,
 * VUXOD_E_CONN_FORM); 3 no instrument (VUXOD_E_NOT_FOUND, a transport's refusal);
 * 4 the database (VUXOD_E_DATABASE); 1 anything else left undone
 * (VUXOD_E_OUTPUT). */
VUXOD_API int vuxod_exit_status(int code);

#ifdef __cplusplus
}
#endif

#endif
