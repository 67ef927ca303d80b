// bundlex --gallery PACKAGE [OUTPUT.html]: one HTML page that shows every
// resource of a package as the game shows it, and beside it a folder
// <base>_gallery/ with the files the page shows (Gallery.h). The package is
// never written: a package that reading would change (a 3.0 file, which
// opening upgrades, or one with 1.0 blocks, which loading upgrades) is
// read from a copy in a temporary folder.
//
// Existing outputs: a page is replaced only when it is a gallery page (its
// generator line says so), and only by rename of a complete new page; its
// folder is written into only beside such a page. Anything else, and any
// symbolic link at either name, is refused before anything is written.
// A failure after the first file leaves nothing behind: the files written
// are removed again, and the folder when this run made it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "CommandTable.h"
#include "Commands.h"
#include "CommandsSupport.h"
#include "Driver.h"
#include "FileNames.h"
#include "Gallery.h"
#include "JsonWriter.h"
#include "OutputFolder.h"
#include "core/FileAccess.h"
#include "package/IStuffVLT.h"

using namespace commands;

namespace {

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The default page: the package's path without its extension, + ".html".
std::string DefaultPage(const std::string& package) {
    const std::string name = BaseName(package);
    const size_t dot = name.find_last_of('.');
    const std::string stem =
        dot == std::string::npos || dot == 0 ? package : package.substr(0, package.size() - (name.size() - dot));
    return stem + ".html";
}

// The first bytes of a regular file (not followed through a link).
std::string HeadOf(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return std::string();
    std::string head(gallery::kPageMarkLimit, '\0');
    const long long n = files::ReadUpTo(fd, &head[0], head.size());
    ::close(fd);
    head.resize(n > 0 ? size_t(n) : 0);
    return head;
}

// Why the outputs may not be written ("" when they may).
std::string OutputProblem(const std::string& page, const std::string& folder) {
    struct stat st;
    bool pageIsGallery = false;
    if (::lstat(page.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode))
            return "'" + SafeText(page) + "' is a symbolic link or not a regular file; nothing is written through it";
        if (!gallery::IsGalleryPage(HeadOf(page)))
            return "'" + SafeText(page) + "' exists and is no gallery page; give another output name or remove it";
        pageIsGallery = true;
    }
    if (::lstat(folder.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode))
            return "the gallery folder '" + SafeText(folder) +
                   "' is a symbolic link or not a folder; nothing is written through it";
        if (!pageIsGallery)
            return "the folder '" + SafeText(folder) +
                   "' exists without its gallery page; give another output name or remove it";
    }
    return std::string();
}

// The files in the way, in one sentence.
std::string Refusal(const outwrite::OutputSet& files) {
    std::string text =
        "these files were changed since the gallery that wrote them, or no gallery wrote them (give --force to "
        "replace them):";
    for (const std::string& c : files.conflicts()) text += " " + c;
    return text;
}

struct Report {
    std::string package, page, folder;
    bool json = false;
    FILE* out = nullptr;
    std::vector<std::string> messages;

    // A line of the console text; kept for the JSON report instead.
    void Say(const std::string& line) {
        if (json)
            messages.push_back(line);
        else
            std::fputs(("\n" + line + "\n").c_str(), out);
    }
    int Fail(const std::string& why, const char* code = "package-unusable") {
        if (json) {
            json::Writer w;
            w.BeginObject().Field("package", package).Field("output", page).Field("ok", false);
            ErrorField(w, code, why);
            w.EndObject();
            std::fputs(w.str().c_str(), out);
        } else {
            std::fprintf(out, " - Error: no gallery of '%s' was written: %s.\n", SafeText(package).c_str(),
                         why.c_str());
        }
        return kExitFailed;
    }
};

}  // namespace

namespace {

// The package as it is read: itself, or a copy in temp when reading would
// change it. Gives the open package with its entries, or 0 once the failure
// is reported (its exit code in code).
int OpenForReading(Report& r, const Head& head, TempFolder& temp, std::vector<Entry>& entries, int& code) {
    const std::string& package = r.package;
    std::string source = package, why;
    if (head.state == HeadState::Version3) {
        if (!temp.ok() || !CopyFile(package, temp / "package.vlt", why))
            return code = r.Fail("it is a VLT v3.0 package and no copy could be made to read it from"), 0;
        source = temp / "package.vlt";
    } else if (head.state != HeadState::Version4) {
        return code = r.Fail(HeadProblem(head)), 0;
    }
    int pkg = source == package ? OpenChecked(package, head, why) : g_pStuffVLT->Open(source.c_str());
    if (pkg < 1) return code = r.Fail(why.empty() ? "it does not open" : why), 0;
    const bool walked = WalkEntries(pkg, entries) == 1;
    bool older = false;
    for (const Entry& e : entries) {
        bool old = false;
        if (kinds::Find(e.type, &old) && old) older = true;
    }
    if (older && source == package) {
        g_pStuffVLT->Close(pkg);
        if (!temp.ok() || !CopyFile(package, temp / "package.vlt", why))
            return code = r.Fail(
                       "it holds 1.0 blocks, which reading upgrades, and no copy could be made to read them from"),
                   0;
        source = temp / "package.vlt";
        pkg = g_pStuffVLT->Open(source.c_str());
        if (pkg < 1) return code = r.Fail("its copy does not open"), 0;
        entries.clear();
        WalkEntries(pkg, entries);
    }
    if (!walked) {
        g_pStuffVLT->Close(pkg);
        return code = r.Fail("a read error stopped the walk over its entries"), 0;
    }
    return pkg;
}

// Opens the output folder; gives 0 when it is ready, else the failure's
// exit code once reported.
int OpenOutputs(Report& r, outwrite::OutputSet& files) {
    switch (files.Open()) {
        case outwrite::OutputSet::Status::Ok: break;
        case outwrite::OutputSet::Status::FolderIsLink:
        case outwrite::OutputSet::Status::FolderIsFile:
            return r.Fail("the gallery folder '" + SafeText(r.folder) +
                              "' is a symbolic link or not a folder; nothing is written through it",
                          "write-failed");
        case outwrite::OutputSet::Status::Refused: return r.Fail(Refusal(files), "write-refused");
        case outwrite::OutputSet::Status::Failed: return r.Fail(files.error(), "write-failed");
    }
    return 0;
}

// What the page's head and the players need to know of the live entries.
void CountEntries(const std::vector<Entry>& entries, gallery::Session& s, gallery::Summary& sum) {
    std::map<std::string, int> perKind;
    for (const Entry& e : entries) {
        if (e.deleted()) {
            ++sum.deleted;
            continue;
        }
        ++sum.live;
        sum.size += e.size;
        sum.packed += e.packedSize;
        ++perKind[kinds::Word(e.type)];
        const kinds::KindRow* row = kinds::Find(e.type);
        if (row && row->kind == kinds::Kind::StateImage) s.stateImages.insert(e.name);
        if (row && row->kind == kinds::Kind::Widget) s.liveWidgets.insert(e.name);
        if (row && (row->kind == kinds::Kind::Sound || row->kind == kinds::Kind::Music)) ++s.players;
    }
    for (const char* k : kinds::Words())
        if (perKind.count(k)) sum.kinds.emplace_back(k, perKind[k]);
}

// Every live entry's section, a failed one with its cause, then the table
// of deleted entries. Stops at the first write error.
void ShowEntries(Report& r, const std::vector<Entry>& entries, gallery::Session& s, const outwrite::OutputSet& files,
                 int& shown, int& failed) {
    for (const Entry& e : entries) {
        if (e.deleted()) continue;
        if (!files.error().empty()) break;
        const std::string kind = gallery::KindOf(e, s);
        const size_t before = s.html.size();
        if (gallery::ShowEntry(s, e)) {
            if (s.html.size() != before) ++shown;
            continue;
        }
        ++failed;
        r.Say(" - WARNING: problem found showing '" + SafeText(e.name, SafeStyle::Masked) + "' " + kind + ".");
        r.Say(" - Info: " + s.cause);
        s.html += "<section class=\"res failed\" data-kind=\"" + kind + "\" data-name=\"" + gallery::Html(e.name) +
                  "\">\n<h3>" + gallery::Html(e.name) +
                  "</h3>\n<div class=\"meta\">not shown: " + gallery::Html(s.cause) + "</div>\n</section>\n";
        s.cause.clear();
    }
    std::string deleted;
    for (const Entry& e : entries)
        if (e.deleted())
            deleted += "<tr><td>" + gallery::Html(e.name) + "</td><td>" + std::to_string(e.size) + " bytes</td></tr>\n";
    if (!deleted.empty())
        s.html += "<section id=\"deleted\">\n<h2>Deleted entries</h2>\n<table>\n" + deleted + "</table>\n</section>\n";
}

// The closing report of a gallery that was written.
void ReportWritten(const Report& r, const gallery::Session& s, int code, int shown, int failed, int deleted) {
    if (r.json) {
        json::Writer w;
        w.BeginObject()
            .Field("package", r.package)
            .Field("output", r.page)
            .Field("folder", r.folder)
            .Field("ok", code == kExitOk)
            .Field("shown", shown)
            .Field("failed", failed)
            .Field("deleted", deleted);
        w.Key("files").BeginArray();
        for (const std::string& f : s.files) w.String(f);
        w.EndArray();
        w.Key("messages").BeginArray();
        for (const std::string& m : r.messages) w.String(m);
        w.EndArray().EndObject();
        std::fputs(w.str().c_str(), r.out);
    } else {
        std::fprintf(r.out, "\n - Gallery of %d resources written to '%s', its files in '%s'.\n", shown,
                     SafeText(r.page).c_str(), SafeText(r.folder).c_str());
    }
}

}  // namespace

int GalleryPackage(const std::string& package, const std::string& output, bool json, FILE* out, bool force) {
    Report r;
    r.package = package;
    r.json = json;
    r.out = out;
    r.page = output.empty() ? DefaultPage(package) : output;
    // A page needs a name before its extension.
    if (r.page.size() <= 5 || !EndsInExtension(r.page, ".html")) {
        return r.Fail("the output file '" + SafeText(r.page) +
                      "' does not end in \".html\"; give the page's name with that extension");
    }
    const std::string base = r.page.substr(0, r.page.size() - 5);
    r.folder = base + "_gallery";

    const Head head = ReadHead(package);
    TempFolder temp;
    std::vector<Entry> entries;
    int code = kExitFailed;
    const int pkg = OpenForReading(r, head, temp, entries, code);
    if (pkg < 1) return code;
    struct PackageCloser {
        int id;
        ~PackageCloser() { g_pStuffVLT->Close(id); }
    } closer{pkg};

    const std::string problem = OutputProblem(r.page, r.folder);
    if (!problem.empty()) return r.Fail(problem);
    // The folder is opened once and every file made inside it; the files of
    // an earlier gallery are replaced only where they are as it wrote them,
    // and only once the whole new gallery is written.
    outwrite::OutputSet files(r.page, r.folder, force);
    if (const int refused = OpenOutputs(r, files)) return refused;
    gallery::Session s;
    s.pkg = pkg;
    s.folder = r.folder;
    s.out = &files;
    s.folderUrl = gallery::Url(BaseName(r.folder)) + "/";
    gallery::Summary sum;
    sum.package = package;
    sum.version = head.versionText;
    struct stat st;
    if (::stat(package.c_str(), &st) == 0) sum.fileSize = uint64_t(st.st_size);
    CountEntries(entries, s, sum);
    int shown = 0, failed = 0;
    ShowEntries(r, entries, s, files, shown, failed);

    // A write error ends the run; what it wrote is taken back, and an
    // earlier gallery stays whole.
    if (!files.error().empty())
        return r.Fail("it " + files.error() + "; the earlier files are as they were", "write-failed");
    if (files.refused()) return r.Fail(Refusal(files), "write-refused");
    const std::string page = gallery::PageStart(sum) + s.html + gallery::PageEnd();
    if (files.Commit(page.data(), page.size()) != outwrite::OutputSet::Status::Ok)
        return r.Fail(files.refused() ? Refusal(files) : "the page could not be written: it " + files.error(),
                      files.refused() ? "write-refused" : "write-failed");
    code = failed > 0 ? kExitIncomplete : kExitOk;
    ReportWritten(r, s, code, shown, failed, sum.deleted);
    return code;
}

namespace {

int RunGallery(const Invocation& inv) {
    return GalleryPackage(inv.paths[0], inv.paths.size() > 1 ? inv.paths[1] : "", inv.json, inv.out, inv.force);
}

}  // namespace

const CommandRow kGalleryCommand = {
    "--gallery",
    1,
    2,
    "--gallery needs a package and at most one output page",
    false,
    true,
    kOptJson | kOptQuiet | kOptForce | kOptJobs,
    "  bundlex --gallery PACKAGE [OUTPUT.html] [--json] [--force]\n"
    "      Write one HTML page (default: the package's name with \".html\") and beside\n"
    "      it a folder of the page's name with \"_gallery\" that show every resource as\n"
    "      the game draws or plays it. Needs no network. The package is not modified.\n",
    &RunGallery,
};
