#include "WebMidiSystem.h"

#include <algorithm>
#include <utility>

#include "MessagePort.h"
#include "PortChoice.h"
#include "WebMidiConnection.h"

struct WebMidiSystem::Made {
    std::vector<WebMidiConnection*> live;
    std::function<void()> onSent;
};

namespace {

// A connection that is listed in its system's Made for as long as it exists.
class ListedConnection : public WebMidiConnection {
public:
    explicit ListedConnection(std::shared_ptr<WebMidiSystem::Made> made) : made(std::move(made)) {
        this->made->live.push_back(this);
        OnSent([list = this->made] {
            if (list->onSent) list->onSent();
        });
    }
    ~ListedConnection() override {
        auto& live = made->live;
        live.erase(std::remove(live.begin(), live.end(), this), live.end());
    }

private:
    std::shared_ptr<WebMidiSystem::Made> made;
};

std::vector<MidiPortEntry> Entries(const std::vector<std::string>& names) {
    std::vector<MidiPortEntry> entries;
    for (std::size_t i = 0; i < names.size(); ++i)
        entries.push_back({static_cast<int>(i), names[i], IsNeverTheDevice(names[i])});
    return entries;
}

}  // namespace

WebMidiSystem::WebMidiSystem() : made(std::make_shared<Made>()) {}

WebMidiSystem::~WebMidiSystem() { made->onSent = nullptr; }

std::vector<MidiPortEntry> WebMidiSystem::OutputPorts() { return Entries(WebMidiConnection().OutputNames()); }

std::vector<MidiPortEntry> WebMidiSystem::InputPorts() { return Entries(WebMidiConnection().InputNames()); }

std::unique_ptr<MidiPort> WebMidiSystem::MakePort(const PortSettings& settings) {
    return std::make_unique<MessagePort>(std::make_unique<ListedConnection>(made), settings);
}

MidiPortPair WebMidiSystem::PortsFor(const PortSettings& settings) {
    WebMidiConnection lister;
    return ChoosePorts(settings, lister.OutputNames(), lister.InputNames());
}

void WebMidiSystem::DeliverInput() {
    for (WebMidiConnection* connection : made->live) connection->DeliverInput();
}

void WebMidiSystem::OnSent(std::function<void()> callback) { made->onSent = std::move(callback); }
