// The configurator page's way into the configuration library: a few C
// calls over byte buffers and UTF-8 strings, so that the page's JavaScript
// needs no bindings and owns no objects on this side.
//
// Every call leaves its answer in one buffer, read with klavor_result and
// klavor_result_size and valid until the next call. A call returns 1 when
// the answer is what was asked, 0 when it is a message saying what is
// wrong (plain UTF-8 text, for the user).
//
// A table is the 128-byte registry value. Views are JSON.
#ifndef KLAVOR_WEB_API_H
#define KLAVOR_WEB_API_H

#ifdef __cplusplus
extern "C" {
#endif

const unsigned char* klavor_result(void);
unsigned klavor_result_size(void);

// The built-in table.
int klavor_defaults(void);

// The klavor.exe the page carries: the phone build's, whose bytes and
// modification time (seconds since 1970 UTC, the cabinet's date, as
// klavorcfg cab takes it from the file) whoever links this gives.
int klavor_program(void);
extern const unsigned char klavor_exe[];
extern const unsigned klavor_exe_size;
extern const long long klavor_exe_modified;

// The cabinet's setup program the page carries: the phone build's
// klavor_setup.dll, which the installer runs to end a running Klavor before
// installing and to start the new one afterwards. Its bytes, too, are given
// by whoever links this.
int klavor_setup_program(void);
extern const unsigned char klavor_setup_dll[];
extern const unsigned klavor_setup_dll_size;

// What the editor offers, as JSON: the buttons' names, the modes' words
// (the page says what each does, in its own table of strings), the press words, the key names by group (the names the
// text form takes) and Klavor's own action codes.
int klavor_catalog(void);

// Everything the page shows of a table, as JSON: each button's mode, key,
// actions and when each is sent; the check's findings, by button and press.
int klavor_view(const unsigned char* table, unsigned size);

// The table with one change, given as the text form words it: field "mode"
// (leave, free, capture), "key" (the button's key), "presses" (the highest
// press index, a number), "action" (the action of press `press`: a key,
// Win+key, "label" or hex) or "win-action" (that key with Win held).
int klavor_edit(const unsigned char* table, unsigned size, int slot, const char* field, int press,
                const char* word);

// The table a file holds: a configuration text, a .reg file, a raw image
// or a cabinet that sets the value, named `name` in messages
// ("name:line: what is wrong").
int klavor_open(const char* name, const unsigned char* data, unsigned size);

// A file for the table, named `name`: kind "text" (what klavorcfg show
// prints for it), "reg" or "cab" (the installation cabinet with the
// carried klavor.exe and setup program, what klavorcfg cab writes). Unless `force`, a table
// the check finds an error in gives no .reg or .cab, as klavorcfg without
// --no-check.
int klavor_export(const unsigned char* table, unsigned size, const char* kind, const char* name, int force);

// ---- Sharing and printing ----------------------------------------------------
// The share code of a table (config/share.h: "klavor=1." and 176
// characters), for the link's fragment and for pasting.
int klavor_share_code(const unsigned char* table, unsigned size);
// The table a share code (or a whole link) holds. When it holds none the
// answer is JSON: "problem" (foreign, version or damaged), "version" and
// "message" (in words).
int klavor_share_read(const char* text);
// The cheat sheet, as JSON: one entry per captured button, its name and
// what 1, 2, 3... presses send, or the button that takes its presses.
int klavor_sheet(const unsigned char* table, unsigned size);

// ---- Trying it on the simulated phone (session.h) --------------------------
// Times are milliseconds since the session began.
// A new session with the table, on a phone whose application has `title`.
int klavor_session_start(const unsigned char* table, unsigned size, const char* title);
// A file opened with a scenario, for the next klavor_session_replay.
int klavor_session_file(const char* name, const unsigned char* data, unsigned size);
// A scenario to replay, with the files given since the last replay.
int klavor_session_replay(const char* name, const unsigned char* data, unsigned size);
// A press of a button (mods 0, 8 for Win or 4 for Shift), and a tap or
// choice on the tray: what is "tap", "dismiss", "close" or "choose" (the
// menu item in `item`).
int klavor_session_press(unsigned t, int slot, int mods);
int klavor_session_tray(unsigned t, const char* what, const char* item);
// What the page shows at `now` (session.h), as JSON; unless `all`, the
// lines from the first one that changed since the last call.
int klavor_session_view(unsigned now, int all);
// The session as a scenario file, and its name.
int klavor_session_scenario(void);

#ifdef __cplusplus
}
#endif

#endif
