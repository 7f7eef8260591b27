/* The notify handle on systems other than Windows: what Dll_SetNotify
   (link/api.h) takes to wake its caller whenever indications are waiting
   for Dll_ReadDate, and what plat::Event::NotifyHandle gives. Plain C, for
   callers in C, C++ or any language with a foreign-function interface. On
   Windows the handle is an event HANDLE instead and this record is not used.

   A handle is the address of a NuvoNotifyRecord. To make one:

   - Place the record in memory that stays valid and unchanged for the rest
     of the process (static storage, or an allocation that is never freed):
     the link layer may use the handle from the moment it is given until the
     process ends. Give the record's address, not that of a copy.
   - magic = NUVO_NOTIFY_MAGIC, version = NUVO_NOTIFY_VERSION,
     self = the record's own address, set = the function below, and
     context = whatever that function needs (may be NULL).
   - Fill it in completely before handing its address to Dll_SetNotify.
     (Dll_Connect takes a handle too, and does not use it.)

   To wake the caller the link layer calls set(context), with the platform's
   C calling convention, from its own threads, possibly from several at once.
   The function must be safe to call so; it should only signal whatever the
   caller waits on (an event, a condition, a pipe) and return at once, and
   must not call the Dll_ functions (it may run while the link layer holds
   its locks). Each call means "indications may be waiting": the caller then
   takes them with Dll_ReadDate until it returns false. It returns nonzero
   when it signalled, 0 when it could not (its event is gone, for one); the
   link layer goes on either way.

   A handle that is not such a record (null, misaligned, unreadable memory,
   a wrong magic or version, a self that is not the record's address, a null
   set) is ignored without being followed, as Windows ignores a bad HANDLE:
   nothing is signalled.

   Layout: the C compiler's natural layout of the struct below, aligned as
   a pointer: magic at offset 0, version at 4, self at 8; then on 64-bit
   systems set at 16 and context at 24 (32 bytes in all), on 32-bit ones set
   at 12 and context at 16 (20 bytes). A later layout keeps magic and
   version where they are and changes the version. */
#ifndef NUVO_PLAT_NOTIFY_RECORD_H
#define NUVO_PLAT_NOTIFY_RECORD_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define NUVO_NOTIFY_MAGIC 0x4E544659u /* "NTFY" */
#define NUVO_NOTIFY_VERSION 1u

typedef struct NuvoNotifyRecord {
  uint32_t magic;                      /* NUVO_NOTIFY_MAGIC */
  uint32_t version;                    /* NUVO_NOTIFY_VERSION */
  const struct NuvoNotifyRecord* self; /* the record's own address */
  int (*set)(void* context);           /* wakes the caller; nonzero when it did */
  void* context;                       /* passed to set as it is */
} NuvoNotifyRecord;

#ifdef __cplusplus
}
#endif

#endif /* NUVO_PLAT_NOTIFY_RECORD_H */
