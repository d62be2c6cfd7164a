#pragma once
// The hub's state lives in Redis only, so that any number of hub processes can
// serve one publisher and each can be restarted on its own. The keys:
//   lumarel-hub:user:<name>        hash: hash (HMAC-SHA256 of the password digest under the
//                                  hub's digest-key, hex), disabled (0 or 1)
//   lumarel-hub:grants:<name>:send, lumarel-hub:grants:<name>:receive
//                                  sets of channel patterns: a name, a prefix ending in '*', or '*'
//   lumarel-hub:last:<channel>     the channel's latest message id (1, 2, ...; never reset)
//   lumarel-hub:msgs:<channel>     sorted set: score id, member "id TAB user TAB text"
//   lumarel-hub:times:<channel>    sorted set: score milliseconds since 1970, member id
//   lumarel-hub:rate:<user>:<sec>  requests of a user in one second (expires)
//   lumarel-hub:failed:user:<name>:<minute>, lumarel-hub:failed:addr:<address>:<minute>
//                                  failed logins in one minute (expire)
//   pub/sub channel lumarel-hub:sent  "<id> <channel> LF <stored line>" for every stored message
//                                  (no channel name holds an LF, no line either)
#include <string>
#include <string_view>

namespace hub::store {

inline constexpr std::string_view kPrefix = "lumarel-hub:";
inline constexpr std::string_view kSentTopic = "lumarel-hub:sent";

inline std::string userKey(std::string_view user) { return std::string(kPrefix) + "user:" + std::string(user); }
inline std::string lastKey(std::string_view channel) { return std::string(kPrefix) + "last:" + std::string(channel); }
inline std::string messagesKey(std::string_view channel) {
  return std::string(kPrefix) + "msgs:" + std::string(channel);
}
inline std::string timesKey(std::string_view channel) { return std::string(kPrefix) + "times:" + std::string(channel); }
inline std::string rateKey(std::string_view user, long long second) {
  return std::string(kPrefix) + "rate:" + std::string(user) + ":" + std::to_string(second);
}

inline std::string grantsKey(std::string_view user, std::string_view kind) {
  return std::string(kPrefix) + "grants:" + std::string(user) + ":" + std::string(kind);
}
inline std::string failedUserKey(std::string_view user, long long minute) {
  return std::string(kPrefix) + "failed:user:" + std::string(user) + ":" + std::to_string(minute);
}
inline std::string failedAddressKey(std::string_view address, long long minute) {
  return std::string(kPrefix) + "failed:addr:" + std::string(address) + ":" + std::to_string(minute);
}

// The second item of a refusal: bits naming what is over its failed logins.
namespace login_note {
constexpr long long kUser = 1;     // the user name is refused for the rest of the minute
constexpr long long kAddress = 2;  // the client address is
constexpr long long kReached = 4;  // this failure is the one that reached the limit
}  // namespace login_note

// Lets a request in: {0}, or {error number, login note}. Every admitted
// request counts against the user's requests of this second; every failed
// login against its name and address for this minute: at 10 in one minute,
// that name or address is refused for the rest of the minute.
// KEYS: user, rate, grants of the kind, failed of the name, failed of the address.
// ARGV: keyed hash of the digest, requests per second, channel, default patterns
// (separated by LF, which no channel name holds).
inline constexpr const char* kAdmit = R"lua(
local function granted(grantsKey, channel, defaults)
  local patterns = redis.call('SMEMBERS', grantsKey)
  if #patterns == 0 then
    for p in string.gmatch(defaults, '[^\n]+') do patterns[#patterns + 1] = p end
  end
  for _, p in ipairs(patterns) do
    if p == channel then return true end
    local n = #p
    if string.byte(p, n) == 42 and string.sub(channel, 1, n - 1) == string.sub(p, 1, n - 1) then return true end
  end
  return false
end

local function admit(keys, hash, limit, channel, defaults)
  local failedUser = tonumber(redis.call('GET', keys[4]) or '0')
  local failedAddress = tonumber(redis.call('GET', keys[5]) or '0')
  if failedUser >= 10 or failedAddress >= 10 then
    return {1000, (failedUser >= 10 and 1 or 0) + (failedAddress >= 10 and 2 or 0)}
  end
  local account = redis.call('HMGET', keys[1], 'hash', 'disabled')
  if not account[1] or account[1] ~= hash then
    local u = redis.call('INCR', keys[4])
    local a = redis.call('INCR', keys[5])
    if u == 1 then redis.call('PEXPIRE', keys[4], 61000) end
    if a == 1 then redis.call('PEXPIRE', keys[5], 61000) end
    if u >= 10 or a >= 10 then return {2001, (u >= 10 and 1 or 0) + (a >= 10 and 2 or 0) + 4} end
    return {2001, 0}
  end
  if account[2] == '1' then return {2002, 0} end
  if not granted(keys[3], channel, defaults) then return {2003, 0} end
  local n = redis.call('INCR', keys[2])
  if n == 1 then redis.call('PEXPIRE', keys[2], 2000) end
  if n > tonumber(limit) then return {1000, 0} end
  return nil
end
)lua";

// Stores a message. KEYS: the five of admit, then last, msgs, times.
// ARGV: the four of admit, then user name, text, now ms, keep count, keep ms, topic.
// Answers {0, id} or admit's refusal.
inline constexpr const char* kSendBody = R"lua(
local refused = admit(KEYS, ARGV[1], ARGV[2], ARGV[3], ARGV[4])
if refused then return refused end
local id = redis.call('INCR', KEYS[6])
if id == 1 then
  -- A channel's counter gone while its messages are kept (evicted by Redis,
  -- or removed by hand) goes on after them: ids never repeat while kept.
  local top = redis.call('ZRANGE', KEYS[7], -1, -1, 'WITHSCORES')
  if #top == 2 then
    id = tonumber(top[2]) + 1
    redis.call('SET', KEYS[6], id)
  end
end
redis.call('ZADD', KEYS[7], id, id .. '\t' .. ARGV[5] .. '\t' .. ARGV[6])
redis.call('ZADD', KEYS[8], ARGV[7], id)
local keep = tonumber(ARGV[8])
if id > keep then
  redis.call('ZREMRANGEBYSCORE', KEYS[7], '-inf', id - keep)
  redis.call('ZREMRANGEBYRANK', KEYS[8], 0, -keep - 1)
end
local cutoff = tonumber(ARGV[7]) - tonumber(ARGV[9])
local old = redis.call('ZRANGEBYSCORE', KEYS[8], '-inf', '(' .. cutoff)
if #old > 0 then
  local newest = 0
  for _, v in ipairs(old) do newest = math.max(newest, tonumber(v)) end
  redis.call('ZREMRANGEBYSCORE', KEYS[7], '-inf', newest)
  redis.call('ZREMRANGEBYSCORE', KEYS[8], '-inf', '(' .. cutoff)
end
redis.call('PEXPIRE', KEYS[7], ARGV[9])
redis.call('PEXPIRE', KEYS[8], ARGV[9])
redis.call('PUBLISH', ARGV[10], id .. ' ' .. ARGV[3] .. '\n' .. id .. '\t' .. ARGV[5] .. '\t' .. ARGV[6])
return {0, id}
)lua";

// The messages after r that are still kept. KEYS: last, msgs, times.
// ARGV: r, now ms, keep ms, at most this many lines.
// Answers {0, r as used, line...}: a mark above the channel's latest id (data
// that is gone, or another deployment's) counts as a new receiver's 0.
inline constexpr const char* kFetchBody = R"lua(
local function fetch(lastKey, msgsKey, timesKey, r, now, keepMs, limit)
  r = tonumber(r)
  local last = tonumber(redis.call('GET', lastKey) or '0')
  if r < 0 or r > last then r = 0 end
  local from = r + 1
  local fresh = redis.call('ZRANGEBYSCORE', timesKey, tonumber(now) - tonumber(keepMs), '+inf', 'LIMIT', 0, 1)
  if #fresh > 0 then from = math.max(from, tonumber(fresh[1])) else from = last + 1 end
  local lines = redis.call('ZRANGEBYSCORE', msgsKey, from, '+inf', 'LIMIT', 0, tonumber(limit))
  local answer = {0, r}
  for _, line in ipairs(lines) do answer[#answer + 1] = line end
  return answer
end
)lua";

inline constexpr const char* kFetchCall = R"lua(
return fetch(KEYS[1], KEYS[2], KEYS[3], ARGV[1], ARGV[2], ARGV[3], ARGV[4])
)lua";

// Admit, then fetch. KEYS: the five of admit, then last, msgs, times.
// ARGV: the four of admit, then r, now ms, keep ms, lines.
inline constexpr const char* kReceiveCall = R"lua(
local refused = admit(KEYS, ARGV[1], ARGV[2], ARGV[3], ARGV[4])
if refused then return refused end
return fetch(KEYS[6], KEYS[7], KEYS[8], ARGV[5], ARGV[6], ARGV[7], ARGV[8])
)lua";

}  // namespace hub::store
