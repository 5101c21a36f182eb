#include "testfiles.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>

#include <stdio.h>
#include <stdlib.h>

#include "fileio.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace fs = std::filesystem;

// Paths are UTF-8, as inside the program; on Windows a narrow path would be
// read in the system code page instead.
static fs::path U8(const std::string& path)
{
    return fs::u8path(path);
}

std::vector<std::string> NamesInThreeScripts()
{
    return {u8"Séance 3.wav", u8"録音 01.wav", u8"Интервью.wav"};
}

std::string PathSep()
{
#ifdef _WIN32
    return "\\";
#else
    return "/";
#endif
}

std::string MemoryFolder()
{
#ifndef _WIN32
    if (access("/dev/shm", W_OK) == 0)
        return "/dev/shm";
#endif
    return std::string();
}

static fs::path SystemTemp()
{
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    return ec ? fs::current_path() : base;
}

TempDir::TempDir(const std::string& base)
{
    static std::atomic<unsigned> counter{0};
    std::random_device rd;
    std::error_code ec;
    fs::path root = base.empty() ? SystemTemp() : fs::path(base);
    for (;;) {
        unsigned tag = rd() ^ unsigned(std::chrono::steady_clock::now().time_since_epoch().count()) ^ (++counter << 20);
        fs::path p = root / ("tessmark-test-" + std::to_string(tag));
        if (fs::create_directory(p, ec)) {
            path_ = p.u8string();
            break;
        }
        if (ec)
            root = SystemTemp();
    }
}

TempDir::~TempDir()
{
    RemoveTree(path_);
}

std::string TempDir::file(const std::string& name) const
{
    return path_ + PathSep() + name;
}

std::string TempDir::write(const std::string& name, const Bytes& bytes) const
{
    std::string p = file(name);
    WriteFileBytes(p, bytes);
    return p;
}

Bytes ReadFileBytes(const std::string& path)
{
    std::ifstream in(U8(path), std::ios::binary);
    if (!in)
        return Bytes();
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool WriteFileBytes(const std::string& path, const Bytes& bytes)
{
    {
        std::ofstream out(U8(path), std::ios::binary | std::ios::trunc);
        if (!out)
            return false;
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        if (!out)
            return false;
    }
    // As a take its recorder finished long ago: quiet for longer than the
    // settle time, so that a repair may cut its partial last frame.
    return SetModifiedAgo(path, 3600);
}

void SettleFolder(const std::string& folder)
{
    std::error_code ec;
    const auto now = fs::file_time_type::clock::now();
    for (auto it = fs::recursive_directory_iterator(U8(folder), ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        std::error_code one;
        // Only what changed lately: a settled file keeps its time.
        if (it->is_regular_file(one) && !it->is_symlink(one) &&
            fs::last_write_time(it->path(), one) > now - std::chrono::minutes(1))
            fs::last_write_time(it->path(), now - std::chrono::hours(1), one);
    }
}

bool SetModifiedAgo(const std::string& path, int64_t seconds)
{
    std::error_code ec;
    fs::last_write_time(U8(path), fs::file_time_type::clock::now() - std::chrono::seconds(seconds), ec);
    return !ec;
}

bool WriteSparse(const std::string& path, const Bytes& head, int64_t total)
{
    return WriteFileBytes(path, head) && SetFileLength(path, total);
}

bool WriteAt(const std::string& path, int64_t offset, const Bytes& bytes)
{
    std::fstream io(U8(path), std::ios::binary | std::ios::in | std::ios::out);
    if (!io)
        return false;
    io.seekp(std::streamoff(offset));
    io.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(io);
}

bool SetFileLength(const std::string& path, int64_t length)
{
    std::error_code ec;
    fs::resize_file(U8(path), uintmax_t(length), ec);
    return !ec;
}

int64_t FileLength(const std::string& path)
{
    std::error_code ec;
    uintmax_t n = fs::file_size(U8(path), ec);
    return ec ? -1 : int64_t(n);
}

Bytes ReadAt(const std::string& path, int64_t offset, size_t count)
{
    std::ifstream in(U8(path), std::ios::binary);
    Bytes b(count);
    if (!in)
        return Bytes();
    in.seekg(std::streamoff(offset));
    in.read(reinterpret_cast<char*>(b.data()), std::streamsize(count));
    b.resize(size_t(in.gcount()));
    return b;
}

bool MakeDir(const std::string& path)
{
    std::error_code ec;
    return fs::create_directories(U8(path), ec);
}

void RemoveTree(const std::string& path)
{
    std::error_code ec;
    fs::permissions(U8(path), fs::perms::owner_all, fs::perm_options::add, ec);
    for (auto it = fs::recursive_directory_iterator(U8(path), ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        fs::permissions(it->path(), fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add, ec);
    fs::remove_all(U8(path), ec);
}

bool SetReadOnly(const std::string& path, bool readOnly)
{
    std::error_code ec;
    fs::permissions(U8(path), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    readOnly ? fs::perm_options::remove : fs::perm_options::add, ec);
    return !ec;
}

bool RepairsHoldFiles(const std::string& folder)
{
    const std::string probe = folder + PathSep() + ".lease-probe";
    if (!WriteFileBytes(probe, Bytes(4, 0)))
        return false;
    FileHandle repair = FileHandleNone, other = FileHandleNone;
    bool held = File_Open(probe.c_str(), FileModeReadWriteExisting, &repair, 128) &&
                !File_Open(probe.c_str(), FileModeWrite | FileModeShareRead | FileModeShareWrite | FileModeOpenExisting,
                           &other, 128);
    if (other != FileHandleNone)
        File_Close(other);
    if (repair != FileHandleNone)
        File_Close(repair);
    std::error_code ec;
    fs::remove(probe, ec);
    return held;
}

#ifndef _WIN32
Bytes RunCommand(const std::string& command, bool* ok)
{
    Bytes out;
    *ok = false;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return out;
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0)
        out.insert(out.end(), buffer, buffer + n);
    *ok = pclose(pipe) == 0;
    return out;
}

bool Have(const std::string& command)
{
    return system((command + " >/dev/null 2>&1").c_str()) == 0;
}

std::string Quoted(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += (c == '\'') ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

Bytes SoxRaw(const std::string& path, const std::string& options, bool* ok)
{
    return RunCommand("sox " + Quoted(path) + " -t raw " + options + " - 2>/dev/null", ok);
}

// Debian's own interpreter starts fastest; any python3 will do.
static std::string PythonCommand()
{
    return access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3 -W ignore" : "python3 -W ignore";
}

bool HavePython(const char* module)
{
    return Have(PythonCommand() + " -c 'import " + module + "'");
}

bool PythonFrames(const char* module, const std::vector<std::string>& paths)
{
    std::string command = PythonCommand() + " -c \"import sys, " + module + " as m\n"
                          "for p in sys.argv[1:]:\n"
                          "    f = m.open(p, 'rb')\n"
                          "    open(p + '.raw', 'wb').write(f.readframes(f.getnframes()))\n\"";
    for (const std::string& p : paths)
        command += " " + Quoted(p);
    return system((command + " 2>/dev/null").c_str()) == 0;
}
#endif
