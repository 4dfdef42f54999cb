#include "launcher/launch_text.h"

#include <cstring>

void appendProgramArgument(TextBuffer& line, const char* argument)
{
    if (argument[0] != '\0' && std::strpbrk(argument, " \t\"") == nullptr) {
        appendText(line, argument);
        return;
    }
    appendText(line, "\"");
    std::size_t backslashes = 0;
    for (const char* c = argument; *c != '\0'; ++c) {
        if (*c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are read back in pairs, and the quote itself needs
        // one more to stay part of the argument. Elsewhere they stand for themselves.
        appendRepeated(line, '\\', *c == '"' ? backslashes * 2 + 1 : backslashes);
        appendBytes(line, c, 1);
        backslashes = 0;
    }
    // Backslashes at the end stand before the closing quote and would escape it.
    appendRepeated(line, '\\', backslashes * 2);
    appendText(line, "\"");
}

void joinProgramArgs(TextBuffer& joined, int argc, const char* const* argv)
{
    for (int i = 1; i < argc; ++i) {
        if (i > 1) appendText(joined, " ");
        appendProgramArgument(joined, argv[i]);
    }
}

void buildJavaCommandLine(TextBuffer& line, const char* program, const char* classPath, const char* vmArgs,
                          const char* archive, const char* programArgs)
{
    bool quoted = std::strchr(program, ' ') != nullptr;
    if (quoted) appendText(line, "\"");
    appendText(line, program);
    if (quoted) appendText(line, "\"");
    if (classPath[0] != '\0') {
        appendText(line, " -classpath ");
        appendText(line, classPath);
    }
    if (vmArgs[0] != '\0') {
        appendText(line, " ");
        appendText(line, vmArgs);
    }
    appendText(line, " -jar ");
    appendText(line, archive);
    if (programArgs[0] != '\0') {
        appendText(line, " ");
        appendText(line, programArgs);
    }
}

void appendVersionSuffix(TextBuffer& text, std::int32_t update)
{
    if (update == 0) return;
    appendText(text, "_");
    appendDecimal(text, update, 2);
}

void buildDownloadQuestion(TextBuffer& question, std::int32_t major, std::int32_t minor, std::int32_t sub,
                           std::int32_t update, const char* applicationName)
{
    appendText(question, "You need to install the Java Runtime Environment version ");
    appendDecimal(question, major);
    appendText(question, ".");
    appendDecimal(question, minor);
    appendText(question, ".");
    appendDecimal(question, sub);
    appendVersionSuffix(question, update);
    appendText(question, " (or a newer version) prior using ");
    appendText(question, applicationName);
    appendText(question,
               ". Do you want to visit the Java site to download the latest version now? "
               "You will need an active internet connection if you answer yes.");
}

void buildBrowserCommand(TextBuffer& command, const char* registeredCommand, const char* website)
{
    appendText(command, registeredCommand);
    appendText(command, " ");
    appendText(command, website);
}

void buildBrowserFailureText(TextBuffer& text, const char* website)
{
    appendText(text, "Failed to launch the web browser. Please visit the site manually:\n\n        ");
    appendText(text, website);
    appendText(text, "\n");
}
