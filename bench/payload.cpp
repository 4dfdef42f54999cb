// Makes the benchmark's payload: a folder tree shaped like an installed Java desktop
// application, the same bytes for the same arguments on every machine.
//
// Usage: wb-bench-payload --out DIR --total BYTES [--files N] [--dirs N] [--seed N]
//
// The tree has N files (default 235) in N directories (default 29), nested at most three
// deep. All but four files are small, from a few bytes to about 80 KB; the four large ones
// take up what is left of the total. The content is of three kinds, mixed as in such an
// application: text (properties, HTML, XML), class-file-like binary (a constant pool of
// identifiers and byte code), and about a quarter that is already compressed (images,
// archives), which bzip2 cannot shrink. Prints "files=N dirs=N bytes=N" when done.
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// splitmix64: small, fast and fully determined by its seed on every platform.
struct Random {
    std::uint64_t state;
};

std::uint64_t next(Random& r)
{
    std::uint64_t z = (r.state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::uint64_t below(Random& r, std::uint64_t n)
{
    return n == 0 ? 0 : next(r) % n;
}

enum ContentKind { kText, kClass, kCompressed };

struct DirPlan {
    std::string path;   // relative, '/'-separated; empty for the root
    int depth = 0;
};

struct FilePlan {
    std::string path;
    std::uint64_t size = 0;
    ContentKind kind = kText;
};

const char* const kDirNames[] = {
    "lib", "res", "docs", "plugins", "help", "images", "icons", "lang", "themes", "config",
    "samples", "templates", "fonts", "sounds", "data", "licences", "modules", "ext", "tools", "scripts",
    "ui", "print", "net", "db", "editor", "export", "import", "wizard", "charts", "maps",
};

const char* const kWords[] = {
    "the", "window", "file", "open", "save", "project", "editor", "value", "of", "and", "to", "is",
    "select", "table", "column", "row", "print", "preview", "export", "import", "option", "dialog",
    "button", "cancel", "apply", "help", "about", "version", "licence", "user", "setting", "default",
    "font", "colour", "size", "page", "document", "report", "chart", "data", "source", "network",
    "server", "connection", "error", "warning", "message", "a", "in", "for", "with", "this", "that",
};

const char* const kIdentifierParts[] = {
    "com/orvanstead/", "app/", "ui/", "model/", "io/", "util/", "Panel", "Layout", "Action", "Listener",
    "Manager", "Factory", "Handler", "Document", "Table", "Renderer", "Editor", "Event", "Model", "View",
    "java/lang/String", "java/lang/Object", "java/util/List", "javax/swing/JPanel", "(Ljava/lang/String;)V",
    "()V", "<init>", "get", "set", "Value", "Name", "Size", "Code", "LineNumberTable", "SourceFile",
};

const char* const kTextExtensions[] = {".properties", ".html", ".txt", ".xml", ".css", ".cfg"};
const char* const kCompressedExtensions[] = {".png", ".gif", ".jpg", ".jar", ".zip", ".gz"};

template <typename T, std::size_t N>
constexpr std::size_t countOf(T (&)[N])
{
    return N;
}

// A chunked writer: content is produced a piece at a time and flushed in large blocks.
struct Output {
    FILE* file = nullptr;
    std::string buffer;
    std::uint64_t left = 0;
};

void put(Output& out, const std::string& piece)
{
    std::size_t n = piece.size() < out.left ? piece.size() : static_cast<std::size_t>(out.left);
    out.buffer.append(piece, 0, n);
    out.left -= n;
    if (out.buffer.size() >= 65536) {
        std::fwrite(out.buffer.data(), 1, out.buffer.size(), out.file);
        out.buffer.clear();
    }
}

void writeText(Output& out, Random& r)
{
    while (out.left > 0) {
        std::string line;
        if (below(r, 4) == 0) {
            line = std::string(kWords[below(r, countOf(kWords))]) + "." + kWords[below(r, countOf(kWords))] + "=";
        }
        int words = 4 + static_cast<int>(below(r, 12));
        for (int i = 0; i < words; ++i) {
            if (i) line += ' ';
            line += kWords[below(r, countOf(kWords))];
        }
        line += below(r, 8) == 0 ? " " + std::to_string(below(r, 100000)) + "\n" : "\n";
        put(out, line);
    }
}

void writeClass(Output& out, Random& r)
{
    put(out, std::string("\xCA\xFE\xBA\xBE\x00\x00\x00\x32", 8));
    // Byte code uses a few dozen opcodes much more than the rest.
    static const unsigned char opcodes[] = {0x2A, 0x2B, 0x2C, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0x12, 0x13, 0x03,
                                            0x04, 0x05, 0x10, 0x11, 0x15, 0x19, 0x36, 0x3A, 0x60, 0x84, 0x99,
                                            0x9A, 0xA7, 0xAC, 0xB0, 0xB1, 0xBB, 0x59, 0xC0, 0xC6, 0xC7};
    while (out.left > 0) {
        std::string piece;
        switch (below(r, 4)) {
        case 0:
        case 1: {
            std::string id;
            int parts = 1 + static_cast<int>(below(r, 4));
            for (int i = 0; i < parts; ++i) id += kIdentifierParts[below(r, countOf(kIdentifierParts))];
            piece += '\x01';
            piece += static_cast<char>(id.size() >> 8);
            piece += static_cast<char>(id.size() & 0xFF);
            piece += id;
            break;
        }
        case 2:
            piece += static_cast<char>(below(r, 2) ? 0x0A : 0x07);
            for (int i = 0; i < 4; ++i) piece += static_cast<char>(below(r, i % 2 ? 256 : 2));
            break;
        default: {
            int length = 16 + static_cast<int>(below(r, 180));
            for (int i = 0; i < length; ++i) {
                piece += static_cast<char>(below(r, 5) ? opcodes[below(r, sizeof opcodes)] : below(r, 256));
            }
        }
        }
        put(out, piece);
    }
}

void writeCompressed(Output& out, Random& r)
{
    std::string piece(4096, '\0');
    while (out.left > 0) {
        for (std::size_t i = 0; i < piece.size(); i += 8) {
            std::uint64_t v = next(r);
            std::memcpy(&piece[i], &v, 8);
        }
        put(out, piece);
    }
}

bool writeFile(const std::string& root, const FilePlan& plan, Random& r)
{
    std::string path = root + "/" + plan.path;
    Output out;
    out.file = std::fopen(path.c_str(), "wb");
    if (!out.file) {
        std::fprintf(stderr, "wb-bench-payload: cannot create %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    out.left = plan.size;
    if (plan.kind == kText) writeText(out, r);
    if (plan.kind == kClass) writeClass(out, r);
    if (plan.kind == kCompressed) writeCompressed(out, r);
    std::fwrite(out.buffer.data(), 1, out.buffer.size(), out.file);
    return std::fclose(out.file) == 0;
}

// A small file's size: an octave from 8 bytes to 64 KB chosen evenly, then a size within
// it, so there are as many tiny files as large ones, like in a real application.
std::uint64_t smallSize(Random& r)
{
    int octave = 3 + static_cast<int>(below(r, 14));
    std::uint64_t size = (1ull << octave) + below(r, 1ull << octave);
    if (size < 7) size = 7;
    if (size > 80000) size = 80000 - below(r, 2000);
    return size;
}

std::string uniqueName(std::vector<std::string>& used, const std::string& stem, const std::string& extension)
{
    std::string name = stem + extension;
    for (int n = 2; ; ++n) {
        bool clash = false;
        for (const std::string& u : used) clash = clash || u == name;
        if (!clash) break;
        name = stem + std::to_string(n) + extension;
    }
    used.push_back(name);
    return name;
}

struct Plan {
    std::vector<DirPlan> dirs;
    std::vector<FilePlan> files;
};

Plan makePlan(Random& r, int fileCount, int dirCount, std::uint64_t total)
{
    Plan plan;
    plan.dirs.push_back(DirPlan{"", 0});
    std::vector<std::vector<std::string>> namesIn(1);
    for (int i = 0; i < dirCount; ++i) {
        // The first few hang from the root; later ones anywhere not yet three deep.
        std::size_t parent = 0;
        if (i >= 5) {
            do parent = below(r, plan.dirs.size()); while (plan.dirs[parent].depth >= 3);
        }
        const char* stem = i < 5 ? kDirNames[i] : kDirNames[below(r, countOf(kDirNames))];
        std::string name = uniqueName(namesIn[parent], stem, "");
        std::string path = plan.dirs[parent].path.empty() ? name : plan.dirs[parent].path + "/" + name;
        plan.dirs.push_back(DirPlan{path, plan.dirs[parent].depth + 1});
        namesIn.emplace_back();
    }

    const int largeCount = fileCount >= 8 ? 4 : 1;
    std::vector<FilePlan> small;
    std::uint64_t smallTotal = 0;
    for (int i = 0; i < fileCount - largeCount; ++i) {
        std::size_t dir = below(r, plan.dirs.size());
        FilePlan f;
        f.size = smallSize(r);
        std::uint64_t pick = below(r, 100);
        f.kind = pick < 25 ? kCompressed : pick < 65 ? kClass : kText;
        std::string stem = f.kind == kClass ? std::string(kIdentifierParts[6 + below(r, 14)]) + kIdentifierParts[6 + below(r, 14)]
                                            : std::string(kWords[below(r, countOf(kWords))]);
        const char* extension = f.kind == kClass ? ".class"
                                : f.kind == kText ? kTextExtensions[below(r, countOf(kTextExtensions))]
                                                  : kCompressedExtensions[below(r, countOf(kCompressedExtensions))];
        std::string name = uniqueName(namesIn[dir], stem, extension);
        f.path = plan.dirs[dir].path.empty() ? name : plan.dirs[dir].path + "/" + name;
        smallTotal += f.size;
        small.push_back(f);
    }
    // A small total leaves the small files at most three fifths of it, scaled evenly.
    std::uint64_t smallCap = total / 5 * 3;
    if (smallTotal > smallCap) {
        std::uint64_t scaled = 0;
        for (FilePlan& f : small) {
            f.size = f.size * smallCap / smallTotal;
            if (f.size == 0) f.size = 1;
            scaled += f.size;
        }
        smallTotal = scaled;
    }

    // The large files: the application's code, its media archive, its manual, its data.
    static const struct {
        const char* name;
        ContentKind kind;
        int percent;
    } large[] = {
        {"app-classes.jar", kClass, 40}, {"media.jar", kCompressed, 25}, {"manual.html", kText, 20},
        {"catalog.xml", kText, 15},
    };
    std::uint64_t rest = total > smallTotal ? total - smallTotal : largeCount;
    std::uint64_t given = 0;
    for (int i = 0; i < largeCount; ++i) {
        FilePlan f;
        f.kind = large[i].kind;
        f.size = i == largeCount - 1 ? rest - given : rest * large[i].percent / 100;
        given += f.size;
        std::size_t dir = i == 0 ? 0 : 1;  // the root, then the first folder ("lib")
        std::string name = uniqueName(namesIn[dir], large[i].name, "");
        f.path = plan.dirs[dir].path.empty() ? name : plan.dirs[dir].path + "/" + name;
        plan.files.push_back(f);
    }
    plan.files.insert(plan.files.end(), small.begin(), small.end());
    return plan;
}

[[noreturn]] void usage(const char* why)
{
    std::fprintf(stderr, "wb-bench-payload: %s\nUsage: wb-bench-payload --out DIR --total BYTES [--files N] "
                         "[--dirs N] [--seed N]\n", why);
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv)
{
    std::string out;
    std::uint64_t total = 0;
    int files = 235;
    int dirs = 29;
    std::uint64_t seed = 20240611;
    for (int i = 1; i < argc; ++i) {
        std::string key = argv[i];
        if (i + 1 >= argc) usage(("no value for " + key).c_str());
        const char* value = argv[++i];
        if (key == "--out") out = value;
        else if (key == "--total") total = std::strtoull(value, nullptr, 10);
        else if (key == "--files") files = std::atoi(value);
        else if (key == "--dirs") dirs = std::atoi(value);
        else if (key == "--seed") seed = std::strtoull(value, nullptr, 10);
        else usage(("unknown option " + key).c_str());
    }
    if (out.empty() || total == 0) usage("--out and --total are needed");
    if (files < 1 || dirs < 1 || dirs > 200 || static_cast<std::uint64_t>(files) > total) usage("bad counts");

    Random r{seed};
    Plan plan = makePlan(r, files, dirs, total);
    if (mkdir(out.c_str(), 0755) != 0) {
        std::fprintf(stderr, "wb-bench-payload: cannot create %s: %s\n", out.c_str(), std::strerror(errno));
        return 1;
    }
    for (std::size_t i = 1; i < plan.dirs.size(); ++i) {
        std::string path = out + "/" + plan.dirs[i].path;
        if (mkdir(path.c_str(), 0755) != 0) {
            std::fprintf(stderr, "wb-bench-payload: cannot create %s: %s\n", path.c_str(), std::strerror(errno));
            return 1;
        }
    }
    std::uint64_t bytes = 0;
    for (const FilePlan& f : plan.files) {
        if (!writeFile(out, f, r)) return 1;
        bytes += f.size;
    }
    std::printf("files=%zu dirs=%zu bytes=%llu\n", plan.files.size(), plan.dirs.size() - 1,
                static_cast<unsigned long long>(bytes));
    return 0;
}
