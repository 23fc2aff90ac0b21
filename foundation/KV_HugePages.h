#pragma once
// Transparent huge pages for the C library's allocator. Loading a large surface touches
// hundreds of megabytes of fresh memory; with 4 KB pages each page costs a fault (dear under
// some virtualisation: a third of a 4M-triangle load), with 2 MB pages one fault covers 512.
// Kernels commonly give huge pages only to memory that asks for them (madvise mode), and the
// allocator asks only when told so at start-up (GLIBC_TUNABLES glibc.malloc.hugetlb=1), so the
// programs start themselves again once with that setting where huge pages are the quicker.

// The GLIBC_TUNABLES value that adds the setting to current (null: none set), or "" when
// current already holds a hugetlb setting (the user's choice, or the second start).
const char* KV_HugePageTunables(const char* current, char* buffer, unsigned long size);

// Whether huge pages are worth asking for here: whether a fault of a small page costs more
// than a few microseconds (timed on a few megabytes, the quicker of two tries). Where small
// faults are dear (15 us each under one hypervisor seen: a third of a 4M-triangle load),
// huge pages save most of it. Where they are cheap (under a microsecond, under another),
// huge pages came dearer still: a 4M-triangle load of the floor viewer took 3.2 s with them
// against 1.05 s without, and osftool info of 16M triangles spent 1.5 to 3 s more in the
// kernel.
bool KV_HugePagesPay();

// Starts executable again with argv and the setting added to the environment, when the
// kernel can give huge pages on request, the C library knows the setting, it is not set
// yet and hugePagesPay() says so; returns, changing nothing, otherwise or when the start
// fails. Sanitizer builds, whose allocator is their own, always return.
void KV_RestartWithHugePages(char** argv, const char* executable = "/proc/self/exe",
                             bool (*hugePagesPay)() = KV_HugePagesPay);

// Keeps every thread's allocations in the one arena of the C library's allocator. By default
// each thread that allocates while another holds the arena gets one of its own, and what a
// worker frees while building a surface stays in its arena, of no use to the others: a
// 4M-triangle load held 30 to 50 MB more at its peak that way. Call it before threads start.
void KV_UseOneAllocatorArena();

// Hands the memory the allocator holds free back to the system (the C library keeps what was
// freed at the top of its heap and in its holes for later use). For the quiet moments after
// a large piece of work whose working memory the next piece cannot reuse.
void KV_ReturnFreeMemory();
