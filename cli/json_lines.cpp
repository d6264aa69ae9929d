#include "cli/json_lines.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

#include "core/timing.h"

namespace ferrotick::cli {

namespace {

// Length of the valid UTF-8 sequence at `pos`, or 0 when it is not one.
std::size_t Utf8Length(std::string_view text, std::size_t pos) {
  const auto byte = [&](std::size_t i) {
    return static_cast<unsigned char>(text[i]);
  };
  const unsigned char lead = byte(pos);
  std::size_t length;
  std::uint32_t code;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
  } else {
    return 0;
  }
  if (pos + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(pos + i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(pos + i) & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
  if ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000) ||
      (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
    return 0;
  }
  return length;
}

// A finite number; JSON has no inf or nan.
std::string Number(const char* format, double value) {
  if (!std::isfinite(value)) value = 0;
  return Format(format, value);
}

}  // namespace

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  out.reserve(text.size() + 2);
  for (std::size_t pos = 0; pos < text.size();) {
    const char c = text[pos];
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (u < 0x20 || u == 0x7F) {
      out += Format("\\u%04x", u);
    } else if (u >= 0x80) {
      const std::size_t length = Utf8Length(text, pos);
      if (length == 0) {
        out += "\\ufffd";
        ++pos;
        continue;
      }
      out.append(text.substr(pos, length));
      pos += length;
      continue;
    } else {
      out += c;
    }
    ++pos;
  }
  out += '"';
  return out;
}

std::string PassJson(const PassRecord& record, const RunOptions& options,
                     std::string_view path) {
  const double seconds = record.seconds;
  const double bytesPerSecond =
      record.bytes == 0 ? 0.0
                        : static_cast<double>(record.bytes) /
                              (seconds >= kMinSeconds ? seconds : kMinSeconds);
  std::string out = "{\"run\":" + JsonString(record.run);
  out += Format(",\"pass\":%d,\"mb\":%d,\"bytes\":%llu", record.pass, record.mb,
                static_cast<unsigned long long>(record.bytes));
  out += ",\"seconds\":" + Number("%.9f", seconds);
  out += ",\"mb_per_s\":" + Number("%.3f", record.rate);
  // MiB from the bytes: an "MB" of a write-based run is W writes of Buffer
  // Size KB, which is not 1 MiB when the buffer does not divide 1024 KB.
  out += ",\"mib_per_s\":" + Number("%.3f", bytesPerSecond / kBytesPerMB);
  out += ",\"bytes_per_s\":" + Number("%.0f", bytesPerSecond);
  out += Format(",\"buffer_kb\":%d", record.bufferKB);
  out +=
      Format(",\"options\":{\"sync\":%s,\"direct\":%s,\"drop_cache\":%s}",
             options.sync ? "true" : "false", options.direct ? "true" : "false",
             options.dropCache ? "true" : "false");
  out += ",\"path\":" + JsonString(path) + "}";
  return out;
}

std::string ErrorJson(std::string_view message, std::string_view run,
                      std::string_view path, std::string_view detail) {
  std::string out = "{\"error\":" + JsonString(message);
  if (!detail.empty()) out += ",\"detail\":" + JsonString(detail);
  if (!run.empty()) out += ",\"run\":" + JsonString(run);
  if (!path.empty()) out += ",\"path\":" + JsonString(path);
  out += "}";
  return out;
}

}  // namespace ferrotick::cli
