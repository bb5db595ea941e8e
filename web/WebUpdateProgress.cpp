#include "WebUpdateProgress.h"

#include <emscripten.h>

#include "FrontEndTexts.h"
#include "Log.h"
#include "TextEncoding.h"

// `Module.page` is the page's reporter object (page/page.js).
// `line` is the status row as the window shows it, `text` the report itself.
EM_JS(void, web_page_report, (const char* kind, const char* line, const char* text), {
    Module.page.report(UTF8ToString(kind), UTF8ToString(line), UTF8ToString(text));
});
EM_JS(void, web_page_log, (const char* text), { Module.page.log(UTF8ToString(text)); });
EM_JS(void, web_page_progress, (double fraction), { Module.page.progress(fraction); });
EM_ASYNC_JS(void, web_page_blocking_message, (const char* text), {
    await Module.page.blockingMessage(UTF8ToString(text));
});

namespace {

// The log's lines as the page keeps them: UTF-8, as the reports are.
void PageLogSink(void*, const char* text, std::size_t length) {
    web_page_log(Cp1252ToUtf8(std::string(text, length)).c_str());
}

}  // namespace

WebUpdateProgress::WebUpdateProgress() { SetLogSink(&PageLogSink, nullptr); }

WebUpdateProgress::~WebUpdateProgress() { SetLogSink(nullptr, nullptr); }

void WebUpdateProgress::Progress(float fraction) {
    LogMessage("Progress: %f\n", static_cast<double>(fraction));
    web_page_progress(static_cast<double>(fraction));
}

void WebUpdateProgress::ProgressIndeterminate() {
    LogMessage("ProgressIndeterminate\n");
    web_page_report("indeterminate", "", "");
}

void WebUpdateProgress::Status(const std::string& text) {
    LogMessage("Status: %s\n", text.c_str());
    web_page_report("status", Cp1252ToUtf8(StatusLineText(text.c_str())).c_str(), Cp1252ToUtf8(text).c_str());
}

void WebUpdateProgress::Error(const std::string& text) {
    LogMessage("Error: %s\n", text.c_str());
    web_page_report("failed", "", Cp1252ToUtf8(FailureBoxText(text.c_str())).c_str());
}

void WebUpdateProgress::Completed(const std::string& text) {
    LogMessage("Completed: %s\n", text.c_str());
    web_page_report("completed", Cp1252ToUtf8(CompletedLineText(text.c_str())).c_str(), Cp1252ToUtf8(text).c_str());
}

void WebUpdateProgress::BlockingMessage(const std::string& text) {
    LogMessage("BlockingMessage: %s\n", text.c_str());
    web_page_blocking_message(Cp1252ToUtf8(text).c_str());
}
