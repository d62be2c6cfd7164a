// The library as a 32-bit terminal calls it. The terminal pushes the
// arguments of an MQL4 #import declaration and trusts the function to take
// exactly those bytes off the stack (stdcall): a function that takes more or
// fewer corrupts the caller's stack. Each export is called here as the
// declarations of Lumarel.mqh make the terminal call it, and ESP is compared
// across the call. x86_64 has one calling convention, in which the caller
// cleans the stack: there these tests are skipped, saying so.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "testing/terminal/test_terminal.h"
#include "terminal/system_library.h"

namespace {

#if defined(__i386__)
// stdcallProbe(function, words, count, out) pushes words[count - 1] down to
// words[0] as a caller pushes arguments, calls function with marks in EAX and
// EDX, and stores EAX, EDX and how far ESP moved across the call (0 when the
// function took exactly what was pushed). It puts ESP back whatever happened,
// so a wrong frame is reported instead of crashing the test.
asm(".text\n"
    ".globl _stdcallProbe\n"
    "_stdcallProbe:\n"
    "  pushl %ebp\n"
    "  movl %esp, %ebp\n"
    "  pushl %ebx\n"
    "  pushl %esi\n"
    "  pushl %edi\n"
    "  movl 12(%ebp), %esi\n"
    "  movl 16(%ebp), %ecx\n"
    "  movl %esp, %ebx\n"
    "1:\n"
    "  testl %ecx, %ecx\n"
    "  jz 2f\n"
    "  decl %ecx\n"
    "  pushl (%esi,%ecx,4)\n"
    "  jmp 1b\n"
    "2:\n"
    "  movl $0x5A5A5A5A, %eax\n"
    "  movl $0xA5A5A5A5, %edx\n"
    "  call *8(%ebp)\n"
    "  movl 20(%ebp), %ecx\n"
    "  movl %eax, (%ecx)\n"
    "  movl %edx, 4(%ecx)\n"
    "  movl %esp, %eax\n"
    "  subl %ebx, %eax\n"
    "  movl %eax, 8(%ecx)\n"
    "  movl %ebx, %esp\n"
    "  popl %edi\n"
    "  popl %esi\n"
    "  popl %ebx\n"
    "  popl %ebp\n"
    "  ret\n");
extern "C" void stdcallProbe(const void* function, const uint32_t* words, uint32_t count, uint32_t* out);
constexpr uint32_t kEdxMark = 0xA5A5A5A5u;
#endif

#define SKIP_UNLESS_I686()                                                                          \
  do {                                                                                              \
    if (sizeof(void*) != 4)                                                                         \
      GTEST_SKIP() << "only the i686 build has stdcall frames and EDX:EAX results; x86_64 callers " \
                      "clean their own stack";                                                      \
  } while (false)

// One function of the #import "Lumarel.dll" block: the stack bytes of each
// argument on a 32-bit terminal, and whether it is passed as a pointer.
struct Argument {
  int bytes;
  bool pointer;
};
struct Declaration {
  std::string name, text;
  std::vector<Argument> arguments;
  int bytes() const {
    int sum = 0;
    for (const auto& a : arguments) sum += a.bytes;
    return sum;
  }
};

std::string withoutComments(const std::string& text) {
  static const std::regex comment("//[^\n]*");
  return std::regex_replace(text, comment, "");
}

[[maybe_unused]] std::vector<Declaration> declaredImports(const std::string& mqh, std::string* problem) {
  const std::string text = withoutComments(mqh);
  const std::string start = "#import \"Lumarel.dll\"";
  const size_t from = text.find(start);
  if (from == std::string::npos) {
    *problem = "no " + start + " block";
    return {};
  }
  const size_t end = text.find("#import", from + start.size());
  std::stringstream block(text.substr(from + start.size(), end - from - start.size()));
  static const std::regex function(R"(^\s*\w+\s+(\w+)\s*\(([^)]*)\)\s*$)");
  std::vector<Declaration> found;
  std::string one;
  while (std::getline(block, one, ';')) {
    std::smatch m;
    if (!std::regex_match(one, m, function)) continue;
    Declaration d{m[1], std::regex_replace(one, std::regex(R"(\s+)"), " "), {}};
    std::stringstream parameters(m[2].str());
    std::string parameter;
    while (std::getline(parameters, parameter, ',')) {
      parameter = parameter.substr(0, parameter.find('='));
      std::stringstream words(parameter);
      std::string type;
      if (!(words >> type)) continue;
      if (type == "const") words >> type;
      if (parameter.find('&') != std::string::npos || parameter.find('[') != std::string::npos || type == "string") {
        d.arguments.push_back({4, true});
      } else if (type == "long" || type == "ulong" || type == "datetime" || type == "double") {
        d.arguments.push_back({8, false});
      } else if (type == "int" || type == "uint" || type == "bool" || type == "color" || type == "char" ||
                 type == "uchar" || type == "short" || type == "ushort" || type == "float") {
        d.arguments.push_back({4, false});
      } else {
        *problem = "an argument of unknown size in: " + d.text;
        return {};
      }
    }
    found.push_back(std::move(d));
  }
  return found;
}

[[maybe_unused]] std::vector<std::string> definedExports(const std::string& def) {
  std::stringstream lines(def);
  std::vector<std::string> names;
  bool inExports = false;
  for (std::string line; std::getline(lines, line);) {
    line = line.substr(0, line.find(';'));
    std::stringstream words(line);
    std::string name;
    if (!(words >> name)) continue;
    if (name == "EXPORTS") {
      inExports = true;
    } else if (inExports) {
      names.push_back(name.substr(0, name.find('=')));
    }
  }
  return names;
}

struct Library {
  HMODULE module = LoadLibraryA(test_terminal::lumarelDll().c_str());
  ~Library() {
    if (module) FreeLibrary(module);
  }
};

TEST(I686Stdcall, EveryExportTakesTheBytesItsMql4DeclarationPushes) {
  SKIP_UNLESS_I686();
#if defined(__i386__)
  std::string problem;
  const auto declared = declaredImports(testing_support::readFile(testing_support::hostPath(LUMAREL_MQH)), &problem);
  ASSERT_TRUE(problem.empty()) << problem;
  const auto exported = definedExports(testing_support::readFile(testing_support::hostPath(LUMAREL_DEF)));
  ASSERT_FALSE(exported.empty());
  for (const auto& name : exported) {
    bool found = false;
    for (const auto& d : declared) found = found || d.name == name;
    EXPECT_TRUE(found) << name << " is exported but Lumarel.mqh does not declare it";
  }
  Library library;
  ASSERT_NE(library.module, nullptr) << test_terminal::lumarelDll() << ": " << GetLastError();

  for (const auto& d : declared) {
    SCOPED_TRACE(d.text);
    const FARPROC function = GetProcAddress(library.module, d.name.c_str());
    ASSERT_NE(function, nullptr) << GetLastError();
    // Harmless values: 0 for numbers, empty zeroed buffers for texts and
    // arrays, so no call starts anything.
    std::vector<std::vector<char>> buffers;
    std::vector<uint32_t> words;
    for (const auto& a : d.arguments) {
      if (a.pointer) {
        buffers.emplace_back(4096, '\0');
        words.push_back(reinterpret_cast<uint32_t>(buffers.back().data()));
      } else {
        for (int i = 0; i < a.bytes / 4; ++i) words.push_back(0);
      }
    }
    uint32_t out[3] = {};
    stdcallProbe(reinterpret_cast<const void*>(function), words.data(), words.size(), out);
    EXPECT_EQ(static_cast<int32_t>(out[2]), 0)
        << "ESP moved by " << static_cast<int32_t>(out[2]) << " bytes across the call: the export takes "
        << d.bytes() + static_cast<int32_t>(out[2]) << " bytes of arguments, the declaration pushes " << d.bytes();
  }
#endif
}

[[maybe_unused]] long long nowSecondsUtc() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const long long ticks = (static_cast<long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return (ticks - 116444736000000000LL) / 10000000LL;
}

TEST(I686Stdcall, TimeUtcReachesA32BitCallerWhole) {
  SKIP_UNLESS_I686();
#if defined(__i386__)
  Library library;
  ASSERT_NE(library.module, nullptr) << test_terminal::lumarelDll() << ": " << GetLastError();
  const FARPROC function = GetProcAddress(library.module, "TimeUTC");
  ASSERT_NE(function, nullptr) << GetLastError();

  // As the terminal's frame for "long TimeUTC();": no arguments, the result
  // in EDX:EAX. EDX is loaded with a mark first, so a function that set only
  // EAX shows.
  const long long before = nowSecondsUtc();
  uint32_t out[3] = {};
  stdcallProbe(reinterpret_cast<const void*>(function), nullptr, 0, out);
  const long long after = nowSecondsUtc();
  EXPECT_EQ(static_cast<int32_t>(out[2]), 0) << "ESP moved across TimeUTC";
  EXPECT_NE(out[1], kEdxMark) << "EDX untouched: the high half of the 64-bit result is garbage";
  const long long value = (static_cast<long long>(out[1]) << 32) | out[0];
  EXPECT_GE(value, before);
  EXPECT_LE(value, after);

  // And as compiled 32-bit code calls it through the declaration's type.
  const long long typed = terminal::asFunction<long long(__stdcall*)()>(function)();
  EXPECT_GE(typed, value);
  EXPECT_LE(typed, nowSecondsUtc());
#endif
}

}  // namespace
