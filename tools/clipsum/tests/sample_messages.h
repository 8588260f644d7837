#pragma once
// Messages shared by the native tests and the Windows check, with the bytes
// that stripping must give.

// A text part with its encoding, then an attachment; the text part's header
// lines replace the root's Content-Type and its closing blank line goes.
constexpr char kMultipartMessage[] = "From: sender@example.com\r\n"
                                     "Subject: report\r\n"
                                     "MIME-Version: 1.0\r\n"
                                     "Content-Type: multipart/mixed; boundary=\"b1\"\r\n"
                                     "\r\n"
                                     "This is a multi-part message in MIME format.\r\n"
                                     "--b1\r\n"
                                     "Content-Type: text/plain; charset=ISO-2022-JP\r\n"
                                     "Content-Transfer-Encoding: 7bit\r\n"
                                     "\r\n"
                                     "Hello\r\n"
                                     "\r\n"
                                     "--b1\r\n"
                                     "Content-Type: application/octet-stream; name=\"a.bin\"\r\n"
                                     "Content-Transfer-Encoding: base64\r\n"
                                     "\r\n"
                                     "QUJDREVGR0g=\r\n"
                                     "\r\n"
                                     "--b1--\r\n";

constexpr char kStrippedMessage[] = "From: sender@example.com\r\n"
                                    "Subject: report\r\n"
                                    "MIME-Version: 1.0\r\n"
                                    "Content-Type: text/plain; charset=ISO-2022-JP\r\n"
                                    "Content-Transfer-Encoding: 7bit\r\n"
                                    "\r\n"
                                    "Hello\r\n";

// Not multipart: left alone. Mixed line ends, bytes above 0x7F and no final
// line end must all come through unchanged.
constexpr char kSinglePartMessage[] = "Subject: =?ISO-2022-JP?B?GyRCJDMkcyRLJEEkTxsoQg==?=\r\n"
                                      "Content-Type: text/plain; charset=Shift_JIS\n"
                                      "\r\n"
                                      "\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd\r"
                                      "second line\n"
                                      "no line end";
