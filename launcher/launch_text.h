// The texts the launcher builds from its settings: the virtual machine's command line,
// the launcher's own arguments passed on to it, the download question and the web
// browser's command. Each is appended to a TextBuffer, so nothing is ever cut.
//
// Plain C++ without Windows headers, so that it builds and is tested on the host too.
#pragma once

#include <cstddef>
#include <cstdint>

#include "launcher/text_buffer.h"

// The longest command line that CreateProcessA accepts, in the UTF-16 characters it
// becomes, terminator excluded.
constexpr std::size_t kMaxCommandLineLength = 32766;

// One argument as the Windows command-line rules read it back unchanged: an empty
// argument, or one with a blank, a tab or a double quote, is put in double quotes, with
// its quotes escaped and the backslashes before a quote (or before the closing quote)
// doubled. Any other argument stands as it is, so ordinary arguments look as typed.
void appendProgramArgument(TextBuffer& line, const char* argument);

// The arguments after the program's own name, each quoted as above, separated by single
// blanks; nothing when there are none.
void joinProgramArgs(TextBuffer& joined, int argc, const char* const* argv);

// The virtual machine's command line: the program, in double quotes when its path holds
// a blank; " -classpath " and the class path when set; a blank and the options when set;
// " -jar " and the archive; a blank and the launcher's arguments when there are any. The
// class path, options and archive stand exactly as configured.
//
// The quotes matter: for an unquoted "C:\Program Files\...\javaw.exe" CreateProcessA
// tries "C:\Program.exe" first, and a program planted there would run instead of Java.
void buildJavaCommandLine(TextBuffer& line, const char* program, const char* classPath, const char* vmArgs,
                          const char* archive, const char* programArgs);

// Nothing for update 0, otherwise "_" and the update with at least two digits ("_06").
void appendVersionSuffix(TextBuffer& text, std::int32_t update);

// The question that offers the Java download site, naming the required version and the
// application.
void buildDownloadQuestion(TextBuffer& question, std::int32_t major, std::int32_t minor, std::int32_t sub,
                           std::int32_t update, const char* applicationName);

// The registered browser command with one blank and the address appended; a placeholder
// in the command is left as it is.
void buildBrowserCommand(TextBuffer& command, const char* registeredCommand, const char* website);

// What the user is told when the browser cannot be started: the address alone on the
// third line, indented, so it can be copied.
void buildBrowserFailureText(TextBuffer& text, const char* website);
