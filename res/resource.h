/* Resource ids of klavor.exe, shared by klavor.rc (windres / rc) and the C++
 * code.  Preprocessor lines only, so that a resource compiler can read it. */
#ifndef KLAVOR_RESOURCE_H
#define KLAVOR_RESOURCE_H

/* Icon groups.  IDI_APP is the program's own icon (shell, tray); the others
 * stand for the hardware buttons in the settings. */
#define IDI_APP          105
#define IDI_VOLUME_UP    10001
#define IDI_VOLUME_DOWN  10002
#define IDI_GREEN        10003
#define IDI_RED          10004

#ifndef RC_INVOKED
/* Every icon id, once: KLAVOR_ICON_IDS(X) expands to X(IDI_APP) X(...) ...
 * for code that walks all icons, e.g.
 *     #define LOAD(id) LoadIcon(inst, MAKEINTRESOURCE(id));
 *     KLAVOR_ICON_IDS(LOAD)
 * Keep it in step with the ICON lines of klavor.rc. */
#define KLAVOR_ICON_IDS(X) \
    X(IDI_APP)             \
    X(IDI_VOLUME_UP)       \
    X(IDI_VOLUME_DOWN)     \
    X(IDI_GREEN)           \
    X(IDI_RED)
#endif /* RC_INVOKED */

#endif /* KLAVOR_RESOURCE_H */
