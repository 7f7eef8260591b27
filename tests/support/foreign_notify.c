/* C on purpose: the record's header has to serve a caller that is not C++. */
#include "foreign_notify.h"

#include <stdatomic.h>
#include <stddef.h>

#include "plat/notify_record.h"

/* The record first, so that a handle is the address of its Foreign. */
struct Foreign {
  NuvoNotifyRecord record;
  atomic_int sets;
  int result;
};

/* Kept for the rest of the process, as the header asks. */
static struct Foreign pool[32];
static atomic_int used;

/* Called from the link layer's threads, several at once. */
static int CountSet(void* context) {
  struct Foreign* foreign = context;
  atomic_fetch_add(&foreign->sets, 1);
  return foreign->result;
}

void* ForeignNotifyMake(int result) {
  const int index = atomic_fetch_add(&used, 1);
  if (index >= (int)(sizeof pool / sizeof pool[0])) return NULL;
  struct Foreign* foreign = &pool[index];
  foreign->result = result;
  atomic_init(&foreign->sets, 0);
  foreign->record.magic = NUVO_NOTIFY_MAGIC;
  foreign->record.version = NUVO_NOTIFY_VERSION;
  foreign->record.self = &foreign->record;
  foreign->record.set = CountSet;
  foreign->record.context = foreign;
  return &foreign->record;
}

int ForeignNotifySets(const void* handle) {
  const struct Foreign* foreign = handle;
  return atomic_load(&foreign->sets);
}
