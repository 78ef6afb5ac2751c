#pragma once
// What failed, in words, for the lines patcher-cli writes on stderr: the archives of a
// damaged folder with their causes, and the update server with its host, port and the
// cause of the failed request.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class ClientArchiveSet;

class FailureNotes {
 public:
  // The archive set must outlive the notes.
  FailureNotes(ClientArchiveSet& archives, std::u16string host, uint16_t port);

  // The lines that explain the question with this second line, asked right after the
  // failure; none for a question that follows no failure.
  std::vector<std::string> ForQuestion(std::u16string_view secondLine) const;
  // One line per archive that could be neither opened nor created, with the cause.
  std::vector<std::string> DamagedArchives() const;
  // "сервер обновлений HOST:PORT: не удалось получить <what>[: <cause>]".
  std::string ServerFailure(std::string_view what, std::string_view cause) const;
  // A server version below the client's: the server cannot be right.
  std::string ServerBehind(int32_t server, int32_t client) const;

 private:
  std::string Server() const;
  // The cause of the last failed request, in words, when it asked for the resource that
  // `matches` accepts; empty otherwise (the failure was a write, or is not known).
  std::string Cause(bool (*matches)(std::u16string_view path, std::u16string_view wanted),
                    std::u16string_view wanted) const;

  ClientArchiveSet& archives_;
  const std::u16string host_;
  const uint16_t port_;
};

// A path as the platform writes it ("\" or "/").
std::string DisplayPath(std::u16string_view path);
