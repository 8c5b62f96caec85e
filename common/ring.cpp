#include "ring.h"

#include "site.h"

namespace qor {

std::optional<Counter> read_counter(std::string_view output) {
    if (output.size() < 2 || !is_sequence(output[0]) || !is_sequence(output[1])) {
        return std::nullopt;
    }
    if (output.size() > 2) {
        char after = output[2];
        if (after != '\n' && after != '\r' && after != ' ' && after != '\t' && after != '\0') {
            return std::nullopt;
        }
    }
    return Counter{output[0], output[1]};
}

std::string slot_key(char ring, char sequence) {
    return {ring, sequence};
}

std::string key_word(std::string_view command) {
    std::string word(command);
    for (char& c : word)
        if (c == ' ') c = '_';
    return word;
}

std::string from_key_word(std::string_view word) {
    std::string text(word);
    for (char& c : text)
        if (c == '_') c = ' ';
    return text;
}

std::optional<Counter> Mailbox::counter(std::string_view name) {
    // One character more than the counter, to see that nothing follows it.
    return read_counter(show(name, 3));
}

void Mailbox::set_counter(std::string_view name, Counter counter) {
    set(name, counter.text());
}

std::string Mailbox::show(std::string_view key, std::size_t max_chars) {
    std::string out = system_.capture({tool_path("keyshow"), std::string(key)}, max_chars).out;
    out.resize(std::min(out.size(), out.find('\0')));
    return out;
}

int Mailbox::set(std::string_view key, std::string_view value) {
    Argv argv{tool_path("keyset"), std::string(key)};
    for (auto& word : command_words(value)) argv.push_back(std::move(word));
    return system_.run(argv);
}

} // namespace qor
