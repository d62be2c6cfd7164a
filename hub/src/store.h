#pragma once
// The hub's state lives in Redis only, so that any number of hub processes can
// serve one publisher and each can be restarted on its own. The keys:
//   lumarel-hub:user:<name>        hash: digest (MD5 of the password), disabled (0 or 1)
//   lumarel-hub:last:<channel>     the channel's latest message id (1, 2, ...; never reset)
//   lumarel-hub:msgs:<channel>     sorted set: score id, member "id TAB user TAB text"
//   lumarel-hub:times:<channel>    sorted set: score milliseconds since 1970, member id
//   lumarel-hub:rate:<user>:<sec>  requests of a user in one second (expires)
//   pub/sub channel lumarel-hub:sent  "<id> <channel>" for every stored message
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

// Lets a request in: 0, or the error number that refuses it. Every admitted
// request counts against the user's requests of this second.
// KEYS: user, rate. ARGV: digest, requests per second.
inline constexpr const char* kAdmit = R"lua(
local function admit(userKey, rateKey, digest, limit)
  local account = redis.call('HMGET', userKey, 'digest', 'disabled')
  if not account[1] or account[1] ~= digest then return 2001 end
  if account[2] == '1' then return 2002 end
  local n = redis.call('INCR', rateKey)
  if n == 1 then redis.call('PEXPIRE', rateKey, 2000) end
  if n > tonumber(limit) then return 1000 end
  return 0
end
)lua";

// Stores a message. KEYS: user, rate, last, msgs, times.
// ARGV: digest, limit, user name, text, now ms, keep count, keep ms, topic, channel.
// Answers {0, id} or {error number}.
inline constexpr const char* kSendBody = R"lua(
local refused = admit(KEYS[1], KEYS[2], ARGV[1], ARGV[2])
if refused ~= 0 then return {refused} end
local id = redis.call('INCR', KEYS[3])
redis.call('ZADD', KEYS[4], id, id .. '\t' .. ARGV[3] .. '\t' .. ARGV[4])
redis.call('ZADD', KEYS[5], ARGV[5], id)
local keep = tonumber(ARGV[6])
if id > keep then
  redis.call('ZREMRANGEBYSCORE', KEYS[4], '-inf', id - keep)
  redis.call('ZREMRANGEBYRANK', KEYS[5], 0, -keep - 1)
end
local cutoff = tonumber(ARGV[5]) - tonumber(ARGV[7])
local old = redis.call('ZRANGEBYSCORE', KEYS[5], '-inf', '(' .. cutoff)
if #old > 0 then
  local newest = 0
  for _, v in ipairs(old) do newest = math.max(newest, tonumber(v)) end
  redis.call('ZREMRANGEBYSCORE', KEYS[4], '-inf', newest)
  redis.call('ZREMRANGEBYSCORE', KEYS[5], '-inf', '(' .. cutoff)
end
redis.call('PEXPIRE', KEYS[4], ARGV[7])
redis.call('PEXPIRE', KEYS[5], ARGV[7])
redis.call('PUBLISH', ARGV[8], id .. ' ' .. ARGV[9])
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

// Admit, then fetch. KEYS: user, rate, last, msgs, times.
// ARGV: digest, limit, r, now ms, keep ms, lines.
inline constexpr const char* kReceiveCall = R"lua(
local refused = admit(KEYS[1], KEYS[2], ARGV[1], ARGV[2])
if refused ~= 0 then return {refused} end
return fetch(KEYS[3], KEYS[4], KEYS[5], ARGV[3], ARGV[4], ARGV[5], ARGV[6])
)lua";

}  // namespace hub::store
