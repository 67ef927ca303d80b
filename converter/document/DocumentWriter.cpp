#include "DocumentWriter.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "core/FileAccess.h"

namespace orb {

namespace {

constexpr const char* kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\n";
constexpr size_t kIndent = 4;

void Escape(std::string& out, const char* text) {
    for (const char* p = text; *p; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default:
                if (c < 0x20) {
                    char ref[8];
                    std::snprintf(ref, sizeof ref, "&#x%02X;", unsigned(c));
                    out += ref;
                } else {
                    out += char(c);
                }
        }
    }
}

}  // namespace

DocumentWriter::DocumentWriter(const char* root, const char* comment) : root_(root), comment_(comment) {}

DocumentWriter::~DocumentWriter() {
    if (scratch_ >= 0) ::close(scratch_);
}

void DocumentWriter::AppendAttribute(std::string& out, const char* name, const std::string& value) {
    const char quote = value.find('"') == std::string::npos ? '"' : '\'';
    Escape(out, name);
    out += '=';
    out += quote;
    Escape(out, value.c_str());
    out += quote;
}

void DocumentWriter::Set(std::vector<std::pair<std::string, std::string>>& list, const char* name,
                         const std::string& value) {
    for (auto& a : list)
        if (a.first == name) {
            a.second = value;
            return;
        }
    list.emplace_back(name, value);
}

void DocumentWriter::SetRootAttribute(const char* name, const std::string& value) { Set(rootAttributes_, name, value); }

void DocumentWriter::Indent(size_t depth) { body_.append(depth * kIndent, ' '); }

void DocumentWriter::FlushStart(bool children) {
    Indent(open_.size() + 1);
    body_ += '<';
    body_ += pending_.tag;
    for (const auto& a : pending_.attributes) {
        body_ += ' ';
        AppendAttribute(body_, a.first.c_str(), a.second);
    }
    if (children) {
        body_ += ">\n";
        open_.push_back(std::move(pending_.tag));
    } else {
        body_ += " />\n";
    }
    pending_ = Pending();
    hasPending_ = false;
    Keep();
}

void DocumentWriter::Open(const char* tag) {
    if (hasPending_) FlushStart(true);
    pending_.tag = tag;
    hasPending_ = true;
}

void DocumentWriter::SetAttribute(const char* name, const std::string& value) {
    if (hasPending_)
        Set(pending_.attributes, name, value);
    else if (open_.empty())
        SetRootAttribute(name, value);
    // An element whose children were written already takes no attribute:
    // the exporter sets every attribute before the first child.
}

void DocumentWriter::SetAttribute(const char* name, int value) { SetAttribute(name, std::to_string(value)); }

void DocumentWriter::Close() {
    if (hasPending_) {
        FlushStart(false);
        return;
    }
    if (open_.empty()) return;
    Indent(open_.size());
    body_ += "</";
    body_ += open_.back();
    body_ += ">\n";
    open_.pop_back();
    Keep();
}

void DocumentWriter::Keep() {
    if (!ok_ || !files_ || body_.size() < keepInMemory_) return;
    if (scratch_ < 0 && (scratch_ = files_->OpenScratch()) < 0) {
        ok_ = false;
        return;
    }
    if (!files::WriteAll(scratch_, body_.data(), body_.size())) {
        ok_ = false;
        files_->MainFailed(errno);
        return;
    }
    spilled_ += body_.size();
    body_.clear();
}

bool DocumentWriter::WriteTo(const outwrite::Sink& sink) {
    while (hasPending_ || !open_.empty()) Close();
    if (!ok_) return false;
    std::string head = kDeclaration;
    head += '<';
    head += root_;
    for (const auto& a : rootAttributes_) {
        head += ' ';
        AppendAttribute(head, a.first.c_str(), a.second);
    }
    head += ">\n";
    head.append(kIndent, ' ');
    head += "<!--";
    head += comment_;
    head += "-->\n";
    if (!sink(head.data(), head.size())) return false;
    if (spilled_ > 0) {
        std::vector<char> piece(size_t(1) << 20);
        unsigned long long at = 0;
        while (at < spilled_) {
            const size_t want = spilled_ - at < piece.size() ? size_t(spilled_ - at) : piece.size();
            const ssize_t n = ::pread(scratch_, piece.data(), want, off_t(at));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                if (n == 0) errno = EIO;
                return false;
            }
            if (!sink(piece.data(), size_t(n))) return false;
            at += (unsigned long long)n;
        }
    }
    const std::string tail = "</" + root_ + ">\n";
    return sink(body_.data(), body_.size()) && sink(tail.data(), tail.size());
}

}  // namespace orb
