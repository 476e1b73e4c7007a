#pragma once
/* What qmhost changes in the machine's updater registration, and how it puts it back.

   Every change is written down before it is made, in a journal of the kit's own in the registry
   (HKLM\SOFTWARE\Tavrin_Inc_ZL\Pellorin Kit, 32-bit view): the value it replaces, type and bytes,
   and the value it writes. A demo's entry lives while the demo runs; a registration's entry
   lives until qmhost unregister puts the replaced value back; a repair's only while it changes
   the value. A qmhost process that dies in the middle of a change leaves its entry behind, and
   the next qmhost command undoes that change before anything else. Demos, registrations and
   unregistrations take turns through a named mutex that the system releases with its holder. */

#ifdef __cplusplus
extern "C" {
#endif

/* Every qmhost command runs this first: a change of a qmhost process that has gone is undone.
   It does not wait for a qmhost that is still changing the registration. */
void RecoverUnfinishedRegistration(void);

/* qmhost register [--force] <path>: 0 when registered. A registration that is neither the
   kit's own nor a stand-in is replaced only with force. */
int RunRegister(const wchar_t* path, int force);

/* qmhost register --repair <path>: stores the file that the registration names in quotes, or
   with variables to expand, as a plain path, which the module can use; 0 when done. The value
   stays the machine's own: it is not kept for unregister, which leaves it as it is. */
int RunRepairRegistration(const wchar_t* path);

/* qmhost unregister [--force]: puts back what qmhost register replaced; 0 when done. A
   registration that qmhost did not make is removed only with force. */
int RunUnregister(int force);

/* The demo borrows the registration for the stand-in: 1 when it is registered until
   EndDemoRegistration, 0 after saying why not. */
int BeginDemoRegistration(const wchar_t* standInPath);

/* Puts back what the demo found; once, from whichever thread comes first (a console control
   handler runs on a thread of its own). */
void EndDemoRegistration(void);

#ifdef __cplusplus
}
#endif
