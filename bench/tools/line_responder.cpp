// The floor for the MCP benchmark: the least a stdio server can do. It answers
// every line that carries an id with one fixed result line and parses nothing.
#include <iostream>
#include <string>

int main() {
    std::ios::sync_with_stdio(false);
    std::string line;
    while (std::getline(std::cin, line)) {
        if (line.find("\"id\"") == std::string::npos) continue;
        auto at = line.find("\"id\":");
        auto end = line.find_first_of(",}", at);
        std::cout << "{\"id\":" << line.substr(at + 5, end - at - 5) << ",\"jsonrpc\":\"2.0\",\"result\":{}}\n"
                  << std::flush;
    }
}
