// The shared float blocks of karbox and lorvex-shm, by key (layout in
// lorvex/shm_block.hpp): System V shared memory on Linux, a named file
// mapping on Windows.
//
// A block is held through an int, -1 for none: the System V identifier on
// Linux, the mapping's handle on Windows (Windows handles fit 32 bits).
//
// How the two systems differ for the callers:
//   - Linux removes a segment only when asked (remove_block, leave_block);
//     Windows removes a mapping when its last holder lets go, and cannot
//     remove it before. remove_block on Windows therefore only lets go: a
//     block others still hold stays, with its contents, under its name.
//   - Linux tells a segment's size; on Windows the size record at the end of
//     the mapping does.
#pragma once

#include "lorvex/shm_block.hpp"

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#include "lorvex/os/windows.hpp"

#include <winternl.h>
#else
#include <cerrno>
#include <cstring>
#include <sys/ipc.h>
#include <sys/shm.h>
#endif

namespace lorvex::os {

using block_id = int;
inline constexpr block_id no_block = -1;

#ifdef _WIN32

namespace detail {
inline HANDLE block_handle(block_id id) { return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(id)); }
inline block_id block_of(HANDLE h) { return static_cast<block_id>(reinterpret_cast<std::intptr_t>(h)); }
} // namespace detail

// The block of `key`: joined when it exists; made with room for `bytes`
// when it does not and `create` is set (and `bytes` is above 0, as with
// System V). no_block on failure, with the system's error in `err`.
inline block_id get_block(std::int32_t key, std::int64_t bytes, bool create, int &err)
{
    const std::wstring name = wide(shm::windows_name(key));
    HANDLE h;
    if (create && bytes > 0) {
        const std::int64_t mapping = shm::windows_mapping_bytes(bytes);
        h = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
            static_cast<DWORD>(mapping >> 32), static_cast<DWORD>(mapping & 0xffffffff), name.c_str());
        const DWORD made = GetLastError();
        if (h && made != ERROR_ALREADY_EXISTS) {
            // New, and zeroed: record the size for everyone who joins.
            if (void *view = MapViewOfFile(h, FILE_MAP_WRITE, 0, 0, 0)) {
                auto *record = reinterpret_cast<volatile LONG64 *>(
                    static_cast<char *>(view) + mapping - shm::windows_size_record);
                InterlockedExchange64(record, bytes);
                UnmapViewOfFile(view);
            }
        }
    } else {
        h = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, name.c_str());
    }
    if (!h) {
        err = static_cast<int>(GetLastError());
        return no_block;
    }
    return detail::block_of(h);
}

inline void *attach_block(block_id id, int &err)
{
    void *at = MapViewOfFile(detail::block_handle(id), FILE_MAP_ALL_ACCESS, 0, 0, 0);
    if (!at)
        err = static_cast<int>(GetLastError());
    return at;
}

// The bytes the block attached at `at` holds; -1 when unknown (with the
// system's error in `err`). A block
// whose maker is still writing its size record is waited for a moment; one
// made without a record counts as the whole mapping.
inline std::int64_t block_size(block_id, const void *at, int &err)
{
    MEMORY_BASIC_INFORMATION view{};
    if (VirtualQuery(at, &view, sizeof view) == 0) {
        err = static_cast<int>(GetLastError());
        return -1;
    }
    const auto mapping = static_cast<std::int64_t>(view.RegionSize);
    if (mapping < shm::windows_size_record)
        return mapping;
    const auto *record = reinterpret_cast<const volatile LONG64 *>(
        static_cast<const char *>(at) + mapping - shm::windows_size_record);
    for (int waited = 0; waited <= 100; waited++) {
        const std::int64_t bytes =
            shm::windows_recorded_bytes(mapping, static_cast<std::uint64_t>(*record));
        if (bytes >= 0)
            return bytes;
        Sleep(1);
    }
    return mapping;
}

inline bool detach_block(void *at)
{
    return UnmapViewOfFile(at) != 0;
}

// Lets go of the block: it goes when nobody else holds it.
inline void remove_block(block_id id)
{
    CloseHandle(detail::block_handle(id));
}

inline bool leave_block(block_id id)
{
    CloseHandle(detail::block_handle(id));
    return true;
}

// Lets go of the block without removing it (a program that only visits).
inline void let_go_block(block_id id)
{
    CloseHandle(detail::block_handle(id));
}

// How many hold the block (handles to it), this caller included; -1 when unknown.
inline long block_holders(block_id id)
{
    PUBLIC_OBJECT_BASIC_INFORMATION info{};
    ULONG length = 0;
    using query_object = LONG(WINAPI *)(HANDLE, int, void *, ULONG, ULONG *);
    static const auto query = reinterpret_cast<query_object>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryObject")));
    if (!query || query(detail::block_handle(id), 0 /* ObjectBasicInformation */, &info, sizeof info,
                      &length) != 0)
        return -1;
    return static_cast<long>(info.HandleCount);
}

inline bool block_absent(int err) { return err == ERROR_FILE_NOT_FOUND; }
inline bool block_too_small(int) { return false; }

inline void block_error_text(int err, char *buf, std::size_t size)
{
    error_text(static_cast<unsigned long>(err), buf, size);
}

#else

inline block_id get_block(std::int32_t key, std::int64_t bytes, bool create, int &err)
{
    const int id = shmget(key, static_cast<std::size_t>(bytes), create ? IPC_CREAT | shm::mode : 0);
    if (id == -1)
        err = errno;
    return id;
}

inline void *attach_block(block_id id, int &err)
{
    void *at = shmat(id, nullptr, 0);
    if (at == reinterpret_cast<void *>(-1)) {
        err = errno;
        return nullptr;
    }
    return at;
}

inline std::int64_t block_size(block_id id, const void *, int &err)
{
    shmid_ds ds{};
    if (shmctl(id, IPC_STAT, &ds) != 0) {
        err = errno;
        return -1;
    }
    return static_cast<std::int64_t>(ds.shm_segsz);
}

inline bool detach_block(void *at)
{
    return shmdt(at) == 0;
}

// Removed even while others are attached: they keep their memory, and the
// key is free at once for a new segment.
inline void remove_block(block_id id)
{
    shmctl(id, IPC_RMID, nullptr);
}

// Removes the segment if nobody is attached any more (the last one out
// removes it); false only when that removal failed.
inline bool leave_block(block_id id)
{
    shmid_ds ds{};
    if (shmctl(id, IPC_STAT, &ds) != 0 || ds.shm_nattch != 0)
        return true;
    return shmctl(id, IPC_RMID, nullptr) == 0;
}

// A segment stays until removed: a visitor has nothing to let go of.
inline void let_go_block(block_id) {}

inline long block_holders(block_id id)
{
    shmid_ds ds{};
    if (shmctl(id, IPC_STAT, &ds) != 0)
        return -1;
    return static_cast<long>(ds.shm_nattch);
}

inline bool block_absent(int err) { return err == ENOENT; }
inline bool block_too_small(int err) { return err == EINVAL; }

inline void block_error_text(int err, char *buf, std::size_t size)
{
    if (size > 0) {
        std::strncpy(buf, std::strerror(err), size - 1);
        buf[size - 1] = 0;
    }
}

#endif

} // namespace lorvex::os
