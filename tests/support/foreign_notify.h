// Notify records made as a caller in another language makes them, from
// plat/notify_record.h alone (the maker is written in C): in static storage,
// each with a set function that counts its calls.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// A new record, whose set function returns `result`; null when all of the
// records are taken.
void* ForeignNotifyMake(int result);
// How often the link layer (or whoever) called the set function of `handle`.
int ForeignNotifySets(const void* handle);

#ifdef __cplusplus
}
#endif
