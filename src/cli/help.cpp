#include "cli/help.h"

#include <algorithm>
#include <iostream>

#ifndef KESTRIX_VERSION
#error "KESTRIX_VERSION must be defined by the build (the project version)"
#endif

namespace kx::help {
namespace {

constexpr size_t kWidth = 79;  // terminal text is filled to this column

const char* ProgramName(Program program) {
  return program == Program::Cli ? "kestrix-cli" : "kestrix";
}

// What every command's help says about paths and the Windows environment.
const char* const kCliIntro =
    "kestrix-cli prints what the pages of the Kestrix window show, for scripts and audits: "
    "tab-separated text, or JSON with --json. Messages go to standard error.\n\n"
    "FILE and APP may be host paths or Windows paths ('C:\\Projects\\Demo\\DemoComp.dpl'). "
    "Windows paths are found through a Wine-style prefix: $WINEPREFIX, else ~/.wine; without "
    "one only drive Z: (the host's root) exists. Modules are mapped by an emulated loader: no "
    "code from the files Kestrix opens is ever run.";

const std::vector<Item> kCliForms = {
    {"COMMAND [ARGUMENTS] [OPTIONS]", ""},
    {"help COMMAND", ""},
    {"COMMAND --help", ""},
    {"--version", ""},
};

const std::vector<Item> kCommonExitCodes = {
    {"0", "the command did what it was asked"},
    {"1",
     "the operation failed (the file cannot be read or loaded, a registry key is missing, "
     "...); the reason is on standard error"},
    {"2", "bad usage: an unknown command or option, a missing argument"},
};

const std::vector<Item> kEnvironment = {
    {"WINEPREFIX",
     "the Wine-style prefix Kestrix works in (drives, system folder, registry "
     "files user.reg and system.reg); ~/.wine when unset"},
    {"WINEPATH",
     "folders put before the prefix's own PATH when Kestrix builds the PATH of "
     "its Windows environment (the host's PATH is never used)"},
};

const std::vector<Item> kPackageExitCodes = {
    {"0", "printed"},
    {"1", "FILE cannot be loaded (the loader's message is on standard error)"},
    {"2", "bad usage"},
};

const Item kFileItem = {"FILE",
                        "a package library (.dpl, .bpl), a DLL or an EXE; its required modules "
                        "must be found by the loader unless --as-data is given"};
const Item kAsDataItem = {"--as-data",
                          "map FILE as data only, without loading the modules it needs; reads "
                          "any PE file, a 64-bit one too"};
const Item kJsonItem = {"--json", "print JSON instead of text"};

std::vector<CommandHelp> MakeCliCommands() {
  std::vector<CommandHelp> c;
  c.push_back({"info",
               {"info FILE [--json]"},
               "General Info of a package library",
               "Loads FILE as the window's load flow does and prints what the General Info page "
               "shows: file, description, usage, build, module type, package flags, size, date "
               "and time, the compiler switches the package was built with (Switches, when it "
               "carries them) and its conditional defines and unit aliases (Conditionals, Unit "
               "aliases, when not empty), then one line per required package and one per "
               "contained unit with its unit flags. Each line is a field name and its value, "
               "tab-separated.",
               {{"FILE",
                 "a package library (.dpl, .bpl), a DLL or an EXE; the modules it requires "
                 "must be found by the loader"},
                kJsonItem},
               kPackageExitCodes,
               "kestrix-cli info 'C:\\Projects\\Demo\\DemoComp.dpl'"});
  c.push_back({"exports",
               {"exports FILE [--as-data] [--json]"},
               "the Export list",
               "Prints the Export page: a header line, one row per exported routine (address, "
               "ordinal, name), then the page's status texts (the number of exported functions, "
               "the base address and the image base).",
               {kFileItem, kAsDataItem, kJsonItem},
               kPackageExitCodes,
               "kestrix-cli exports --as-data /srv/builds/DemoComp.dpl"});
  c.push_back({"structure",
               {"structure FILE [--as-data] [--json]"},
               "the Structure tree: units, classes and members",
               "Prints the Structure page: the exported routines of a package arranged as units, "
               "classes and members, two spaces of indentation per level, then the numbers of "
               "units and classes. A module that is not a .dpl file has no tree; only the two "
               "status lines are printed. With --json every member also carries its address, "
               "ordinal and signature.",
               {kFileItem, kAsDataItem, kJsonItem},
               kPackageExitCodes,
               "kestrix-cli structure 'C:\\Projects\\Demo\\DemoComp.dpl' --json"});
  c.push_back({"imports",
               {"imports FILE [--as-data] [--json]"},
               "the Import list",
               "Prints the Import page: a header line, one row per imported module (handle, "
               "type, name), then the numbers of imported modules and imported packages. A "
               "damaged import table gives a warning on standard error and the rows that could "
               "be read.",
               {kFileItem, kAsDataItem, kJsonItem},
               kPackageExitCodes,
               "kestrix-cli imports 'C:\\Projects\\Demo\\DemoApp.exe' --as-data"});
  c.push_back({"resources",
               {"resources FILE [--as-data] [--json]"},
               "the Resources tree",
               "Prints the Resources page: the resource tree of FILE (types, names, languages), "
               "two spaces of indentation per level, then the number of resource directories.",
               {kFileItem, kAsDataItem, kJsonItem},
               kPackageExitCodes,
               "kestrix-cli resources 'C:\\Projects\\Demo\\DemoComp.dpl'"});
  c.push_back({"dpk",
               {"dpk FILE [-o OUT] [--own-switches]"},
               "the package source of a package library or compiled package",
               "Prints the package source (.dpk) that \"Extract from DPL\" on the DPK page writes "
               "for a package library, or \"Extract from DCP\" for a compiled package file "
               "(.dcp), byte for byte: text in the system code page (the prefix's ANSI code page, "
               "Windows-1252 without one) with CR LF line ends.",
               {{"FILE", "a package library, or a compiled package file (.dcp)"},
                {"-o OUT",
                 "write the source to OUT instead of standard output; the package "
                 "source of a .dcp is then named after OUT"},
                {"--own-switches",
                 "write the compiler directives with the values the package library was "
                 "built with (its PACKAGEOPTIONS resource: ON or OFF per line, the minimum "
                 "enum size) instead of the fixed block; without that resource the fixed "
                 "block is written and a note goes to standard error"}},
               {{"0", "written"},
                {"1", "FILE cannot be loaded or read, or OUT cannot be written"},
                {"2", "bad usage, or --own-switches with a compiled package file"}},
               "kestrix-cli dpk 'C:\\Projects\\Demo\\DemoComp.dcp' -o DemoComp.dpk"});
  c.push_back({"dcp",
               {"dcp FILE [--units] [--json]"},
               "the tree of a compiled package file",
               "Prints what the DCP page shows for a compiled package file: its contained "
               "units, required packages and resources as a tree, two spaces of indentation per "
               "level, then the page's three status texts.",
               {{"FILE", "a compiled package file (.dcp)"},
                {"--units",
                 "one row per compiled unit instead: name, offset and size of its "
                 "DCU, code and data sizes, code and data offsets"},
                kJsonItem},
               {{"0", "printed"}, {"1", "FILE cannot be read or is damaged"}, {"2", "bad usage"}},
               "kestrix-cli dcp 'C:\\Projects\\Demo\\DemoComp.dcp' --units"});
  c.push_back({"extract-dcu",
               {"extract-dcu FILE UNIT -o OUT"},
               "copy one compiled unit out of a .dcp",
               "Copies the compiled unit UNIT out of the compiled package file FILE unchanged, "
               "as \"Extract DCU\" on the DCP page does, and says so on standard output.",
               {{"FILE", "a compiled package file (.dcp)"},
                {"UNIT",
                 "the unit's name, letter case ignored; the package source unit has no "
                 "DCU to extract"},
                {"-o OUT", "the .dcu file to write (required)"}},
               {{"0", "extracted"},
                {"1", "FILE cannot be read, holds no such unit, or OUT cannot be written"},
                {"2", "bad usage"}},
               "kestrix-cli extract-dcu 'C:\\Projects\\Demo\\DemoComp.dcp' DemoUnit -o "
               "DemoUnit.dcu"});
  c.push_back(
      {"config",
       {"config [--json]", "config set NAME VALUE"},
       "the Delphi 3 IDE settings; config set changes one",
       "Prints the Delphi 3 settings as the Delphi3 page shows them: whether Delphi 3 is "
       "installed, the default package, the package and debugging flags (0 or 1), the package "
       "output folders and the library path, then one line per known, disabled and shared "
       "package. Nothing is written.\n\n"
       "config set changes one option in the registry as the page's control does; the IDE "
       "sees it at its next start.",
       {kJsonItem,
        {"set NAME VALUE",
         "NAME as config prints it ('Show Details', 'Pack. DLL Out', ...) or "
         "its JSON name (showDetails, packDLLOut, ...), letter case ignored; "
         "flags take 0 or 1"}},
       {{"0", "printed, or the option is stored"},
        {"1", "config set: the option's registry key does not exist; nothing is stored"},
        {"2", "bad usage, or an unknown option NAME"}},
       "kestrix-cli config set 'Show Details' 1"});
  c.push_back(
      {"find",
       {"find MASK [--folder DIR | --system | --path] [--first] [--json]"},
       "search folders and drives for package files (SmartFind)",
       "Runs the search of the SmartFind page and prints every file found as soon as it is "
       "found, its ten cells tab-separated: name, folder, size, type (DPLRun, DPLDsgn or "
       "DPLBoth for package libraries), System, Shared, the three dates and the hard-link "
       "count. Without --folder, --system or --path it searches the current folder's drive, "
       "then every other ready drive (not A: and B:); a drive that maps the whole host disk "
       "can take long.",
       {{"MASK",
         "file names to look for, with * and ? ('*.dpl', 'vcl*.DCP'), letter case "
         "ignored; a folder part (host or Windows, 'C:\\Lib\\*.dpl') searches that folder "
         "and its subfolders, as --folder does, and cannot be combined with --folder, "
         "--system or --path"},
        {"--folder DIR", "search DIR and its subfolders"},
        {"--system", "search the system folder only"},
        {"--path", "search the folders of the library search path only, as the window has it"},
        {"--first", "stop after the first folder that holds a match"},
        {"--json", "print one JSON array at the end instead"}},
       {{"0", "searched, also when nothing was found"}, {"2", "bad usage"}},
       "kestrix-cli find 'vcl*.dpl' --system"});
  c.push_back(
      {"known",
       {"known [--json]", "known add FILE", "known remove PATH", "known up PATH", "known down PATH",
        "known check [--json]"},
       "the IDE's known packages; add, remove, reorder, check",
       "Prints the list of the Delphi3 page: the IDE's known packages in load order, then "
       "those only disabled, one line per package with its twelve cells tab-separated (name, "
       "status On, Off or Lost, description, type, System, Shared, folder, size, three dates, "
       "hard-link count).\n\n"
       "The actions change the registry at once, as the page's buttons do; the IDE sees the "
       "change at its next start. Their messages go to standard error.",
       {kJsonItem,
        {"add FILE", "add a package library to the known packages"},
        {"remove PATH", "remove the package from the known and disabled packages"},
        {"up PATH", "move the package one place earlier in the load order"},
        {"down PATH", "move the package one place later in the load order"},
        {"check",
         "test the load order, one finding per line: every package that is On needs "
         "its required packages findable, and a required package that is itself a "
         "known package must be On and come earlier"}},
       {{"0", "printed or changed; check found nothing"},
        {"1",
         "Delphi 3 is not installed (actions), PATH is not listed or cannot move, the "
         "change failed, or check found problems"},
        {"2", "bad usage"}},
       "kestrix-cli known up 'C:\\Program Files\\Borland\\Delphi 3\\Bin\\dclsmp30.dpl'"});
  c.push_back(
      {"deploy",
       {"deploy APP [--modules] [--json] [-o REPORT] [--strict]"},
       "the modules an application needs at start-up",
       "Runs the deployment analysis of the Deploy page: reads the import table of APP from "
       "disk (nothing is run), asks the loader for every module it needs with the search order "
       "of a Windows program at start-up, follows their imports, and prints the report: the "
       "counts, the modules not found, the packages located incorrectly (found only outside "
       "the loader's search order) and the space everything takes.",
       {{"APP", "an application (.exe) or a library (.dll)"},
        {"--modules",
         "print one row per module instead, tab-separated: name, module type, "
         "description, folder, size, type, System, Shared"},
        {"--json", "print the report and the rows as one JSON object"},
        {"-o REPORT", "also save the report as a text file"},
        {"--strict",
         "exit with 1 when a module is missing or a package is located "
         "incorrectly (for CI)"}},
       {{"0", "analysed (with --strict: nothing missing or located incorrectly)"},
        {"1", "APP cannot be read, REPORT cannot be written, or --strict found problems"},
        {"2", "bad usage"}},
       "kestrix-cli deploy 'C:\\Projects\\Demo\\DemoApp.exe' --strict"});
  return c;
}

const CommandHelp& WindowHelp() {
  static const CommandHelp window{
      "kestrix",
      {"[FILE]", "--help", "--version"},
      "inspect Delphi 3 packages, compiled packages and package sources",
      "Kestrix is a desktop tool for people who build and ship Delphi 3 packages. It opens a "
      "package library (.dpl, also .bpl, DLL or EXE) and shows its package flags, description, "
      "contained units, required packages, exports as a list and as a unit, class and member "
      "tree, imports and resources. It regenerates package sources (.dpk), reads compiled "
      "package files (.dcp), works out which modules an application needs at start-up, edits "
      "the IDE's package configuration in the registry and searches drives for package "
      "files.\n\n"
      "Kestrix sees the Windows world through a Wine-style prefix ($WINEPREFIX, else ~/.wine): "
      "drive letters, the system folder and the registry files. Modules are mapped by an "
      "emulated loader that never runs code from the files it opens.\n\n"
      "With a FILE the window first starts as usual, then opens FILE as if it had been chosen "
      "in an open dialog. Dropping such a file on the window does the same (except on the "
      "Delphi3 page's default package box, which takes the file name).",
      {{"FILE",
        "a host or Windows path: a package library (.dpl, .bpl), DLL or EXE opens on "
        "General Info (with its questions about a missing .dcp or .dpk); a .dcp opens "
        "on the DCP page; a .dpk is shown on the DPK page"},
       {"--help, -h", "print this help and exit"},
       {"--version", "print the program name and version and exit"},
       {"-platform NAME",
        "Qt's options (-platform, -style, -geometry, ...) apply as to every "
        "Qt program"}},
      {{"0", "the window was closed"}, {"2", "bad usage: an unknown option or more than one FILE"}},
      "kestrix 'C:\\Projects\\Demo\\DemoComp.dpl'"};
  return window;
}

// --- terminal text ---------------------------------------------------------

// Fills the words of text into lines of at most kWidth columns, each line
// starting at column indent; the first line's indent is already written
// when firstWritten is set.
void Fill(std::string& out, std::string_view text, size_t indent, bool firstWritten = false) {
  size_t column = indent;
  bool lineEmpty = true;
  if (!firstWritten) out.append(indent, ' ');
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t start = text.find_first_not_of(' ', pos);
    if (start == std::string_view::npos) break;
    size_t end = text.find(' ', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view word = text.substr(start, end - start);
    if (!lineEmpty && column + 1 + word.size() > kWidth) {
      out += "\n";
      out.append(indent, ' ');
      column = indent;
      lineEmpty = true;
    }
    if (!lineEmpty) {
      out += ' ';
      ++column;
    }
    out += word;
    column += word.size();
    lineEmpty = false;
    pos = end;
  }
  out += "\n";
}

void Paragraphs(std::string& out, const std::string& text) {
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find("\n\n", pos);
    if (end == std::string::npos) end = text.size();
    out += "\n";
    Fill(out, std::string_view(text).substr(pos, end - pos), 0);
    pos = end + 2;
  }
}

// "  name      text" with the texts of all items starting in one column.
void Items(std::string& out, const std::vector<Item>& items) {
  size_t longest = 0;
  for (const Item& item : items) longest = std::max(longest, item.name.size());
  const size_t column = std::min<size_t>(longest, 18) + 4;
  for (const Item& item : items) {
    out += "  " + item.name;
    if (item.name.size() + 4 > column) {
      out += "\n";
      Fill(out, item.text, column);
    } else {
      out.append(column - 2 - item.name.size(), ' ');
      Fill(out, item.text, column, true);
    }
  }
}

void Usage(std::string& out, const char* program, const std::vector<std::string>& forms) {
  for (size_t i = 0; i < forms.size(); ++i)
    out += std::string(i == 0 ? "usage: " : "       ") + program + " " + forms[i] + "\n";
}

std::vector<std::string> Names(const std::vector<Item>& items) {
  std::vector<std::string> names;
  for (const Item& item : items) names.push_back(item.name);
  return names;
}

std::string HelpText(const char* program, const CommandHelp& command) {
  std::string out;
  Usage(out, program, command.synopsis);
  Paragraphs(out, command.description);
  out += "\nArguments and options:\n";
  std::vector<Item> options = command.options;
  if (program == std::string_view("kestrix-cli"))
    options.push_back({"-h, --help", "print this help and exit"});
  Items(out, options);
  out += "\nExit codes:\n";
  Items(out, command.exitCodes);
  out += "\nExample:\n  " + command.example + "\n";
  return out;
}

// --- manual pages ----------------------------------------------------------

// Text for man(7): backslashes and minus signs escaped, a line that would
// start with a control character protected.
std::string Roff(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\\')
      out += "\\e";
    else if (c == '-')
      out += "\\-";
    else
      out += c;
  }
  return out;
}

// Protects lines that start with '.' or '\''.
std::string Lines(const std::string& text) {
  std::string out;
  bool lineStart = true;
  for (char c : text) {
    if (lineStart && (c == '.' || c == '\'')) out += "\\&";
    out += c;
    lineStart = c == '\n';
  }
  return out;
}

// Options and literal words bold, placeholders (FILE, OUT) italic,
// brackets and bars plain.
std::string RoffSyntax(std::string_view text) {
  std::string out;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find(' ', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view token = text.substr(pos, end - pos);
    size_t first = 0, last = token.size();
    while (first < last && (token[first] == '[' || token[first] == '(')) ++first;
    while (last > first && (token[last - 1] == ']' || token[last - 1] == ')' ||
                            token[last - 1] == ',' || token[last - 1] == '.'))
      --last;
    const std::string_view core = token.substr(first, last - first);
    out += Roff(token.substr(0, first));
    if (!core.empty() && core != "|") {
      const bool placeholder = std::all_of(
          core.begin(), core.end(), [](char c) { return (c >= 'A' && c <= 'Z') || c == '_'; });
      out += (placeholder ? "\\fI" : "\\fB") + Roff(core) + "\\fR";
    } else {
      out += Roff(core);
    }
    out += Roff(token.substr(last));
    if (end < text.size()) out += ' ';
    pos = end + 1;
  }
  return out;
}

void ManParagraphs(std::string& out, const std::string& text) {
  size_t pos = 0;
  bool first = true;
  while (pos <= text.size()) {
    size_t end = text.find("\n\n", pos);
    if (end == std::string::npos) end = text.size();
    if (!first) out += ".PP\n";
    out += Lines(Roff(text.substr(pos, end - pos))) + "\n";
    first = false;
    pos = end + 2;
  }
}

void ManItems(std::string& out, const std::vector<Item>& items, const char* indent = "") {
  for (const Item& item : items) {
    out += std::string(".TP") + indent + "\n" + Lines(RoffSyntax(item.name)) + "\n";
    out += Lines(Roff(item.text)) + "\n";
  }
}

void ManSynopsis(std::string& out, const char* program, const std::vector<std::string>& forms) {
  out += ".nf\n";
  for (const std::string& form : forms)
    out += Lines(RoffSyntax(std::string(program) + " " + form)) + "\n";
  out += ".fi\n";
}

void ManExample(std::string& out, const std::string& example) {
  out += ".PP\n.RS\n.nf\n" + Lines(Roff(example)) + "\n.fi\n.RE\n";
}

std::string ManHeader(const char* program, const std::string& summary) {
  std::string upper;
  for (const char* p = program; *p != '\0'; ++p)
    upper += (*p >= 'a' && *p <= 'z') ? char(*p - 'a' + 'A') : *p;
  return ".TH " + Roff(upper) +
         " 1 \"\" \"Kestrix " KESTRIX_VERSION
         "\" \"User Commands\"\n"
         // Paths and options are neither hyphenated nor stretched.
         ".nh\n.ad l\n"
         ".SH NAME\n" +
         Roff(program) + " \\- " + Roff(summary) + "\n";
}

std::string CliManPage() {
  std::string out = ManHeader("kestrix-cli", "print what the Kestrix window shows, for scripts");
  out += ".SH SYNOPSIS\n";
  ManSynopsis(out, "kestrix-cli", Names(kCliForms));
  out += ".SH DESCRIPTION\n";
  ManParagraphs(out, kCliIntro);
  out += ".SH COMMANDS\n";
  for (const CommandHelp& command : CliCommands()) {
    out += ".SS " + Roff(command.name) + "\n";
    ManSynopsis(out, "kestrix-cli", command.synopsis);
    out += ".PP\n";
    ManParagraphs(out, command.description);
    ManItems(out, command.options);
    out += ".PP\nExit status:\n.RS\n";
    ManItems(out, command.exitCodes, " 4");
    out += ".RE\n.PP\nExample:\n";
    ManExample(out, command.example);
  }
  out += ".SH EXIT STATUS\n";
  ManItems(out, kCommonExitCodes, " 4");
  out += ".SH ENVIRONMENT\n";
  ManItems(out, kEnvironment);
  out += ".SH SEE ALSO\n.BR kestrix (1)\n";
  return out;
}

std::string WindowManPage() {
  const CommandHelp& window = WindowHelp();
  std::string out = ManHeader("kestrix", window.summary);
  out += ".SH SYNOPSIS\n";
  ManSynopsis(out, "kestrix", window.synopsis);
  out += ".SH DESCRIPTION\n";
  ManParagraphs(out, window.description);
  out += ".SH OPTIONS\n";
  ManItems(out, window.options);
  out += ".SH EXIT STATUS\n";
  ManItems(out, window.exitCodes, " 4");
  out += ".SH EXAMPLE\n";
  ManExample(out, window.example);
  out += ".SH ENVIRONMENT\n";
  ManItems(out, kEnvironment);
  out += ".SH SEE ALSO\n.BR kestrix\\-cli (1)\n";
  return out;
}

}  // namespace

const std::vector<CommandHelp>& CliCommands() {
  static const std::vector<CommandHelp> commands = MakeCliCommands();
  return commands;
}

const CommandHelp* FindCliCommand(std::string_view name) {
  for (const CommandHelp& command : CliCommands())
    if (command.name == name) return &command;
  return nullptr;
}

std::string VersionText(Program program) {
  return std::string(ProgramName(program)) + " " KESTRIX_VERSION "\n";
}

std::string UsageText(Program program) {
  if (program == Program::Window) return HelpText("kestrix", WindowHelp());
  std::string out;
  Usage(out, "kestrix-cli", Names(kCliForms));
  Paragraphs(out, kCliIntro);
  out += "\nCommands (kestrix-cli help COMMAND explains one):\n";
  std::vector<Item> commands;
  for (const CommandHelp& command : CliCommands())
    commands.push_back({command.name, command.summary});
  Items(out, commands);
  out += "\nExit codes:\n";
  Items(out, kCommonExitCodes);
  out += "\nEnvironment:\n";
  Items(out, kEnvironment);
  return out;
}

std::string CommandText(const CommandHelp& command) { return HelpText("kestrix-cli", command); }

std::string ManPage(Program program) {
  return program == Program::Cli ? CliManPage() : WindowManPage();
}

int PrintCommandHelp(std::string_view name) {
  const CommandHelp* command = FindCliCommand(name);
  if (command == nullptr) {
    std::cerr << "kestrix-cli: no help for '" << name << "'; kestrix-cli --help lists the "
              << "commands\n";
    return 2;
  }
  std::cout << CommandText(*command);
  return 0;
}

int RunInfoOption(Program program, int argc, char** argv) {
  const int last = program == Program::Cli ? std::min(argc, 2) : argc;
  for (int i = 1; i < last; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--version") {
      std::cout << VersionText(program);
      return 0;
    }
    if (arg == "--man") {
      std::cout << ManPage(program);
      return 0;
    }
    if (arg == "--help" || arg == "-h" || (program == Program::Cli && arg == "help")) {
      if (program == Program::Cli && arg == "help" && argc > 2) return PrintCommandHelp(argv[2]);
      std::cout << UsageText(program);
      return 0;
    }
  }
  return -1;
}

int ParseWindowArgs(int argc, char** argv, std::string& file) {
  file.clear();
  bool optionsEnd = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!optionsEnd && arg == "--") {
      optionsEnd = true;
      continue;
    }
    std::string problem;
    if (!optionsEnd && arg.size() > 1 && arg[0] == '-')
      problem = "unknown option '" + arg + "'";
    else if (!file.empty())
      problem = "give at most one FILE";
    if (!problem.empty()) {
      std::cerr << "kestrix: " << problem << "\nusage: kestrix [FILE]   (kestrix --help "
                << "explains it)\n";
      return 2;
    }
    file = arg;
  }
  return -1;
}

}  // namespace kx::help
