#pragma once

#include <cstddef>

// Sets the C library's heap for a batch run over big pictures: one heap for every thread,
// big blocks taken from it and kept there when freed, and its memory in huge pages where the
// system gives them. Bands of a picture are allocated and freed over and over; memory handed
// back to the system after each costs a page fault every 4 KiB when taken again, which on a
// virtual machine was a tenth of a run. Called first thing, before any thread starts.
void UseRoomyHeap();

// Asks for huge pages over the whole 2 MiB pages within size bytes from start; only a hint:
// without them the memory works the same.
void AdviseHugePages(const void* start, std::size_t size);

// Gives the pages of size bytes from start now, as writing them first would, without
// changing what they hold: for a thread with nothing else to do. Only a hint: where the
// system cannot, the first write still does.
void PrepareMemory(void* start, std::size_t size);
