#include "Dumper.h"

#include <cxxabi.h>
#include <dwarf.h>
#include <elfutils/libdw.h>
#include <elfutils/libdwelf.h>
#include <elfutils/libdwfl.h>
#include <gelf.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

namespace symbols {

namespace {

std::string demangle(const char* name) {
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> out(abi::__cxa_demangle(name, nullptr, nullptr, &status), &std::free);
    return status == 0 && out ? std::string(out.get()) : std::string(name);
}

std::string archName(int machine) {
    switch (machine) {
        case EM_X86_64: return "x86_64";
        case EM_386: return "x86";
        case EM_AARCH64: return "aarch64";
        case EM_ARM: return "arm";
        case EM_RISCV: return "riscv";
        default: return "elf-machine-" + std::to_string(machine);
    }
}

struct Layout {
    std::uint64_t base = 0;  // where the loader maps the image's first page
    std::vector<std::pair<std::uint64_t, std::uint64_t>> code;  // executable segments [start, end)
    bool inCode(std::uint64_t a) const {
        for (const auto& [s, e] : code)
            if (a >= s && a < e) return true;
        return false;
    }
};

bool readLayout(Elf* elf, Layout& layout) {
    std::size_t n = 0;
    if (elf_getphdrnum(elf, &n) != 0) return false;
    bool any = false;
    for (std::size_t i = 0; i < n; ++i) {
        GElf_Phdr ph;
        if (!gelf_getphdr(elf, static_cast<int>(i), &ph) || ph.p_type != PT_LOAD) continue;
        const std::uint64_t start = ph.p_vaddr & ~std::uint64_t{0xfff};
        if (!any || start < layout.base) layout.base = start;
        any = true;
        if (ph.p_flags & PF_X) layout.code.emplace_back(ph.p_vaddr, ph.p_vaddr + ph.p_memsz);
    }
    return any;
}

Elf_Scn* findSection(Elf* elf, Elf64_Word type) {
    for (Elf_Scn* scn = elf_nextscn(elf, nullptr); scn; scn = elf_nextscn(elf, scn)) {
        GElf_Shdr sh;
        if (gelf_getshdr(scn, &sh) && sh.sh_type == type) return scn;
    }
    return nullptr;
}

void addSymbols(Elf* elf, Elf_Scn* scn, const Layout& layout, std::vector<Function>& out) {
    GElf_Shdr sh;
    gelf_getshdr(scn, &sh);
    Elf_Data* data = elf_getdata(scn, nullptr);
    if (!data || sh.sh_entsize == 0) return;
    const std::size_t count = sh.sh_size / sh.sh_entsize;
    // Global definitions first, so that of aliases at one address the exported name wins.
    std::vector<Function> globals, locals;
    for (std::size_t i = 0; i < count; ++i) {
        GElf_Sym sym;
        if (!gelf_getsym(data, static_cast<int>(i), &sym)) continue;
        const int type = GELF_ST_TYPE(sym.st_info);
        if ((type != STT_FUNC && type != STT_GNU_IFUNC) || sym.st_shndx == SHN_UNDEF || sym.st_size == 0) continue;
        if (!layout.inCode(sym.st_value)) continue;
        const char* name = elf_strptr(elf, sh.sh_link, sym.st_name);
        if (!name || !*name) continue;
        Function f{sym.st_value - layout.base, sym.st_size, demangle(name)};
        (GELF_ST_BIND(sym.st_info) == STB_GLOBAL ? globals : locals).push_back(std::move(f));
    }
    for (auto* v : {&globals, &locals})
        for (auto& f : *v) out.push_back(std::move(f));
}

std::string subprogramName(Dwarf_Die* die) {
    Dwarf_Attribute attr;
    for (int a : {DW_AT_linkage_name, DW_AT_MIPS_linkage_name}) {
        if (dwarf_attr_integrate(die, a, &attr))
            if (const char* s = dwarf_formstring(&attr)) return demangle(s);
    }
    const char* n = dwarf_diename(die);
    return n ? n : "";
}

// Functions with code that the symbol table does not name (its entry stripped or absent).
void addSubprograms(Dwarf_Die* parent, const Layout& layout, std::vector<Function>& out) {
    Dwarf_Die child;
    if (dwarf_child(parent, &child) != 0) return;
    do {
        const int tag = dwarf_tag(&child);
        if (tag == DW_TAG_namespace || tag == DW_TAG_class_type || tag == DW_TAG_structure_type ||
            tag == DW_TAG_union_type) {
            addSubprograms(&child, layout, out);
        } else if (tag == DW_TAG_subprogram) {
            Dwarf_Addr base, start, end;
            ptrdiff_t off = 0;
            std::string name;
            while ((off = dwarf_ranges(&child, off, &base, &start, &end)) > 0) {
                if (end <= start || !layout.inCode(start)) continue;
                if (name.empty()) name = subprogramName(&child);
                if (name.empty()) break;
                out.push_back({start - layout.base, end - start, name});
            }
        }
    } while (dwarf_siblingof(&child, &child) == 0);
}

void addLines(Dwarf* dw, const Layout& layout, SymbolFile& sf) {
    std::unordered_map<std::string, std::uint32_t> fileIndex;
    Dwarf_CU* cu = nullptr;
    Dwarf_Half version;
    std::uint8_t unitType;
    Dwarf_Die cudie;
    while (dwarf_get_units(dw, cu, &cu, &version, &unitType, &cudie, nullptr) == 0) {
        if (unitType == DW_UT_type || unitType == DW_UT_split_type) continue;
        Dwarf_Lines* lines = nullptr;
        std::size_t n = 0;
        if (dwarf_getsrclines(&cudie, &lines, &n) != 0) continue;
        std::unordered_map<const char*, std::uint32_t> local;
        for (std::size_t i = 0; i + 1 < n; ++i) {
            Dwarf_Line* row = dwarf_onesrcline(lines, i);
            Dwarf_Line* next = dwarf_onesrcline(lines, i + 1);
            bool endSeq = false;
            Dwarf_Addr a = 0, b = 0;
            int lineNo = 0;
            if (!row || !next || dwarf_lineendsequence(row, &endSeq) != 0 || endSeq) continue;
            if (dwarf_lineaddr(row, &a) != 0 || dwarf_lineaddr(next, &b) != 0 || b <= a) continue;
            if (dwarf_lineno(row, &lineNo) != 0 || lineNo <= 0 || !layout.inCode(a)) continue;
            const char* src = dwarf_linesrc(row, nullptr, nullptr);
            if (!src) continue;
            auto [it, fresh] = local.try_emplace(src, 0);
            if (fresh) {
                auto [g, added] = fileIndex.try_emplace(src, static_cast<std::uint32_t>(sf.files.size()));
                if (added) sf.files.emplace_back(src);
                it->second = g->second;
            }
            const std::uint64_t start = a - layout.base;
            LineRange* last = sf.lines.empty() ? nullptr : &sf.lines.back();
            if (last && last->start + last->size == start && last->line == static_cast<std::uint32_t>(lineNo) &&
                last->file == it->second) {
                last->size += b - a;  // same line continues
            } else {
                sf.lines.push_back({start, b - a, static_cast<std::uint32_t>(lineNo), it->second});
            }
        }
    }
}

}  // namespace

std::optional<SymbolFile> dumpSymbols(const std::string& path, const DumpOptions& options, std::string& error) {
    std::string searchPath = ":.debug:" + (options.debugDir.empty() ? std::string() : options.debugDir + ":") +
                             "/usr/lib/debug";
    char* searchPathPtr = searchPath.data();
    const Dwfl_Callbacks callbacks = {dwfl_build_id_find_elf, dwfl_standard_find_debuginfo,
                                      dwfl_offline_section_address, &searchPathPtr};
    std::unique_ptr<Dwfl, decltype(&dwfl_end)> dwfl(dwfl_begin(&callbacks), &dwfl_end);
    if (!dwfl) {
        error = dwfl_errmsg(-1);
        return std::nullopt;
    }
    const std::string name = options.name.empty() ? path.substr(path.rfind('/') + 1) : options.name;
    Dwfl_Module* mod = dwfl_report_offline(dwfl.get(), name.c_str(), path.c_str(), -1);
    if (!mod) {
        error = path + ": " + dwfl_errmsg(-1);
        return std::nullopt;
    }
    dwfl_report_end(dwfl.get(), nullptr, nullptr);
    GElf_Addr bias = 0;
    Elf* elf = dwfl_module_getelf(mod, &bias);
    GElf_Ehdr eh;
    if (!elf || !gelf_getehdr(elf, &eh) || (eh.e_type != ET_EXEC && eh.e_type != ET_DYN)) {
        error = path + ": not an ELF executable or shared library";
        return std::nullopt;
    }
    Layout layout;
    if (!readLayout(elf, layout)) {
        error = path + ": no loadable segments";
        return std::nullopt;
    }
    SymbolFile sf;
    sf.module = name;
    sf.arch = archName(eh.e_machine);
    const void* id = nullptr;
    const ssize_t idLen = dwelf_elf_gnu_build_id(elf, &id);
    for (ssize_t i = 0; i < idLen; ++i) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", static_cast<const unsigned char*>(id)[i]);
        sf.buildId += hex;
    }

    Dwarf_Addr dwBias = 0;
    Dwarf* dw = dwfl_module_getdwarf(mod, &dwBias);
    Elf* debugElf = dw ? dwarf_getelf(dw) : nullptr;
    Elf_Scn* symtab = findSection(elf, SHT_SYMTAB);
    Elf* symElf = elf;
    if (!symtab && debugElf && (symtab = findSection(debugElf, SHT_SYMTAB))) symElf = debugElf;
    if (!symtab) symtab = findSection(elf, SHT_DYNSYM);
    if (symtab) addSymbols(symElf, symtab, layout, sf.functions);
    sf.normalize();
    if (dw) {
        std::vector<Function> extra;
        Dwarf_CU* cu = nullptr;
        Dwarf_Half version;
        std::uint8_t unitType;
        Dwarf_Die cudie;
        while (dwarf_get_units(dw, cu, &cu, &version, &unitType, &cudie, nullptr) == 0)
            if (unitType == DW_UT_compile || unitType == DW_UT_partial) addSubprograms(&cudie, layout, extra);
        std::vector<Function> unnamed;
        for (auto& f : extra)
            if (!sf.functionAt(f.start)) unnamed.push_back(std::move(f));
        for (auto& f : unnamed) sf.functions.push_back(std::move(f));
        addLines(dw, layout, sf);
    }
    sf.normalize();
    if (sf.functions.empty() && sf.lines.empty()) {
        error = path + ": no symbols and no debug information found";
        return std::nullopt;
    }
    return sf;
}

}  // namespace symbols
