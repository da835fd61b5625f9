#pragma once
// The program's log: one file per window run plus an in-memory tail.
#include <cstddef>
#include <string>
#include <vector>

namespace logger {

void init(const std::string& dir, const std::string& app);
void shutdown();
std::string file_path();

void info(const std::string& message);
void warn(const std::string& message);
void error(const std::string& message);

std::vector<std::string> tail(size_t n);

} // namespace logger
