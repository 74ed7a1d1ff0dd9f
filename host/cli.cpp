#include "host/cli.h"

#include <filesystem>

#include "host/encoding.h"

namespace mirax {

namespace {

#ifdef _WIN32
constexpr const char* kModuleFile = "test.dll";
#else
constexpr const char* kModuleFile = "test.so";
#endif

// The hand-shake keeps 15 characters of the release and build, and builds directories of at most
// 255 characters from the text root ("<root>\text\<language>\menus", the longest language name
// having 19 characters).
constexpr size_t kMaxHostString = 15;
constexpr size_t kMaxTextRoot = 255 - 31;

// UTF-8 in, UTF-8 out.
std::string absolute(const std::string& path) {
  std::error_code ec;
  const auto p = std::filesystem::absolute(path_from_utf8(path), ec);
  return ec ? path : path_to_utf8(p.lexically_normal());
}

}  // namespace

const char* usage_text() {
  return "usage: mirax --model FILE [options]\n"
         "Stands in for the CAD host: loads the plug-in module, presses its -CsysList button and\n"
         "answers its questions from the assembly model FILE (JSON).\n"
         "  --model FILE       the assembly model\n"
         "  --name NAME        reply NAME to the csys name prompt\n"
         "  --cancel           cancel the csys name prompt\n"
         "  --reference PATH   pick the reference csys PATH (\"CS\", \"SUB/P2/CS\", \"BOLT[2]/CS\")\n"
         "  --no-reference     abort the reference pick\n"
         "  --module FILE      the plug-in module (default: test.so / test.dll beside mirax)\n"
         "  --text-root DIR    the directory holding the text tree (default: beside mirax)\n"
         "  --language N       the host's language number (default 0, US ASCII; 1 Japanese)\n"
         "  --release TEXT     the host's release (default 21)\n"
         "  --build TEXT       the host's build (default 2002100)\n"
         "  --dir DIR          the current directory, where csyspos.txt is written\n"
         "  --help             this text\n"
         "Without --name or --reference mirax asks on the terminal.\n"
         "Exit status: 0 done, 1 the module refused the host or its command is missing,\n"
         "2 bad usage or a bad model, 3 the module cannot be loaded.\n";
}

CommandLine parse_command_line(const std::vector<std::string>& args, const Defaults& defaults) {
  CommandLine cl;
  std::optional<std::string> module, text_root, language, directory;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    std::optional<std::string> inline_value;
    if (arg.rfind("--", 0) == 0) {
      if (const auto eq = arg.find('='); eq != std::string::npos) {
        inline_value = arg.substr(eq + 1);
        arg.resize(eq);
      }
    }
    auto value = [&]() -> std::string {
      if (inline_value) return *inline_value;
      if (i + 1 >= args.size()) throw UsageError(arg + " needs a value");
      return args[++i];
    };
    auto flag = [&] {
      if (inline_value) throw UsageError(arg + " takes no value");
    };
    if (arg == "--model")
      cl.model = value();
    else if (arg == "--name")
      cl.name = value();
    else if (arg == "--cancel")
      flag(), cl.cancel = true;
    else if (arg == "--reference")
      cl.reference = value();
    else if (arg == "--no-reference")
      flag(), cl.no_reference = true;
    else if (arg == "--module")
      module = value();
    else if (arg == "--text-root")
      text_root = value();
    else if (arg == "--language")
      language = value();
    else if (arg == "--release")
      cl.session.release = value();
    else if (arg == "--build")
      cl.session.build = value();
    else if (arg == "--dir")
      directory = value();
    else if (arg == "--help" || arg == "-h")
      flag(), cl.help = true;
    else
      throw UsageError("unknown argument " + args[i]);
  }
  if (cl.help) return cl;
  if (cl.model.empty()) throw UsageError("--model FILE is required");
  if (cl.name && cl.cancel) throw UsageError("--name and --cancel exclude each other");
  if (cl.reference && cl.no_reference) throw UsageError("--reference and --no-reference exclude each other");
  if (cl.session.release.size() > kMaxHostString || cl.session.build.size() > kMaxHostString)
    throw UsageError("--release and --build hold at most 15 characters");
  if (language) {
    size_t used = 0;
    int n = 0;
    try {
      n = std::stoi(*language, &used);
    } catch (const std::exception&) {
      used = 0;
    }
    if (used == 0 || used != language->size()) throw UsageError("--language needs a number, not " + *language);
    cl.session.language = n;
  }
  cl.session.module = absolute(module ? *module : path_to_utf8(path_from_utf8(defaults.program_dir) / kModuleFile));
  cl.session.text_root = absolute(text_root ? *text_root : defaults.program_dir);
  if (cl.session.text_root.size() > kMaxTextRoot)
    throw UsageError("the text root " + cl.session.text_root + " is longer than " + std::to_string(kMaxTextRoot) +
                     " characters");
  if (directory) {
    std::error_code ec;
    if (!std::filesystem::is_directory(path_from_utf8(*directory), ec)) throw UsageError("--dir " + *directory + " is not a directory");
    cl.session.directory = absolute(*directory);
  }
  return cl;
}

}  // namespace mirax
