// The AVI header template: the 8,204-byte empty file header, level-1
// zero-run coded.
#pragma once
extern const unsigned char compact_empty[191];
constexpr int compact_empty_size = 191;
constexpr int avi_header_size = 8204;
