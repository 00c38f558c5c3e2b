-- Wireshark dissector for the board frame (docs/board-protocol.md): the header fields by their
-- own names (frameLength, dataSymbol, frameIndex, packetIndex), the data area, the checksum, and
-- what the technician reads: the status of the board's replies and reports (error bits, resend
-- index, current maximum, version, band words), the commands' arguments, each command paired
-- with its reply and the response time, print frames sent again marked as resent, and a
-- statistics tap per band (tshark -z ferrolink,bands[,FILTER]).
--
-- frameLength stands where Ethernet keeps an 802.3 length (and counts the whole frame), so left
-- to itself Ethernet would hand the frame to an LLC layer that calls every board frame
-- malformed. The dissector is a heuristic of the Ethernet layer instead: it takes frames to or
-- from the PC's protocol MAC before Ethernet guesses, and shows the Ethernet addresses under
-- their usual names (eth.dst, eth.src, eth.addr) itself.
-- Use: wireshark -X lua_script:dissector/ferrolink.lua, or put it in a Lua plugin folder
-- (the Debian package puts it in Wireshark's global one, where it loads by itself).

local board = Proto("ferrolink", "Ferrolink board frame")

local PC_MAC = "7b:23:fc:98:10:99"

local S_PRINT, S_REPORT, S_REPLY = 0x0000, 0x0003, 0x0101
local S_END_OF_BAND, S_STATUS_QUERY, S_RESET, S_SET_ERRORS = 0x0010, 0x0011, 0x0012, 0x0013

local symbols = {
  [S_PRINT] = "PrintData", [S_REPORT] = "AutoReport", [S_END_OF_BAND] = "EndOfBand",
  [S_STATUS_QUERY] = "StatusQuery", [S_RESET] = "Reset", [S_SET_ERRORS] = "SetErrors",
  [S_REPLY] = "StatusReply",
}
local function is_command(symbol) return symbol >= S_END_OF_BAND and symbol <= S_SET_ERRORS end
local function is_status(symbol) return symbol == S_REPORT or symbol == S_REPLY end

-- The error word's bits, named as the host library's reply parser names them.
local error_bits = {
  [0] = { "b0_re_frame_ver_err", "Re_Frame_Ver_Err: a frame for the board failed its checksum (resend)" },
  [1] = { "b1_re_frame_lose_err", "Re_Frame_Lose_Err: packets of the band are missing (resend)" },
  [2] = { "b2_l2_wr_ddr2_over", "L2_Wr_DDR2_over: memory overflow while writing (fatal)" },
  [3] = { "b3_l2_rd_ddr2_fifo_verr", "L2_Rd_DDR2_FIFO_Verr: checksum error reading memory (fatal)" },
  [4] = { "b4_l2_rd_ddr2_fifo_zhentou", "L2_Rd_DDR2_FIFO_ZhenTou: no frame header reading memory (fatal)" },
  [5] = { "b5_l2_rd_ddr2_fifo_lose", "L2_Rd_DDR2_FIFO_Lose: frame lost reading memory (fatal)" },
  [6] = { "b6_l2_rd_ddr2_fifo_epty", "L2_Rd_DDR2_FIFO_Epty: memory empty when read (fatal)" },
  [7] = { "b7_rd_ddr2_fifo_fireoverrun", "Rd_DDR2_FIFO_FireOverrun: firing before the data was sent (fatal)" },
  [8] = { "b8_hb_fiber_redata_zhentou", "HB_Fiber_ReData_Zhentou: head board found no frame header" },
  [9] = { "b9", "Bit 9" },
  [10] = { "b10", "Bit 10" },
  [11] = { "b11_firstframe_fifoaddress_error", "FirstFrame_FifoAddress_Error" },
  [12] = { "b12_fifoadress_none_sequence", "FifoAdress_None_Sequence" },
  [13] = { "b13_ddr2_empty", "DDR2_Empty" },
}

local f = board.fields
-- The Ethernet layer's own names: the heuristic takes the frame before Ethernet adds them.
f.eth_dst = ProtoField.ether("eth.dst", "Destination")
f.eth_src = ProtoField.ether("eth.src", "Source")
f.eth_addr = ProtoField.ether("eth.addr", "Address")
f.frame_length = ProtoField.uint16("ferrolink.frame_length", "frameLength", base.DEC)
f.data_symbol = ProtoField.uint16("ferrolink.data_symbol", "dataSymbol", base.HEX, symbols)
f.frame_index = ProtoField.uint32("ferrolink.frame_index", "frameIndex (band)", base.DEC)
f.packet_index = ProtoField.uint32("ferrolink.packet_index", "packetIndex", base.DEC)
f.sequence = ProtoField.uint32("ferrolink.sequence", "Command sequence (packetIndex)", base.DEC)
f.report_number = ProtoField.uint32("ferrolink.report_number", "Report number (packetIndex)", base.DEC)
f.data = ProtoField.bytes("ferrolink.data", "Data area")
f.checksum = ProtoField.uint32("ferrolink.checksum", "Checksum", base.HEX)
f.checksum_status = ProtoField.uint8("ferrolink.checksum.status", "Checksum status", base.DEC,
  { [0] = "Bad", [1] = "Good" })

f.eob_packets = ProtoField.uint32("ferrolink.end_of_band.packets", "Packets in the band", base.DEC)
f.eob_band_bytes = ProtoField.uint32("ferrolink.end_of_band.band_bytes", "Band bytes", base.DEC)
f.eob_packet_size = ProtoField.uint32("ferrolink.end_of_band.packet_size", "Packet size", base.DEC)
f.set_errors = ProtoField.uint32("ferrolink.set_errors.bits", "Error bits to raise", base.HEX)

f.error_word = ProtoField.uint32("ferrolink.status.error", "Error word", base.HEX)
local bit_fields = {}
for bit = 0, 13 do
  bit_fields[bit] = ProtoField.bool("ferrolink.status.error." .. error_bits[bit][1],
    error_bits[bit][2], 32, nil, 2 ^ bit)
  f["error_" .. bit] = bit_fields[bit]
end
f.resend_index = ProtoField.int32("ferrolink.status.resend_index",
  "Resend index (first packetIndex to send again)", base.DEC)
f.current_maximum = ProtoField.int32("ferrolink.status.current_maximum",
  "Current maximum (last packetIndex of the intact prefix)", base.DEC)
f.version_high = ProtoField.uint16("ferrolink.status.version_high", "Version, high", base.DEC)
f.version_low = ProtoField.uint16("ferrolink.status.version_low", "Version, low", base.DEC)
f.band = ProtoField.uint32("ferrolink.status.band", "Band (frameIndex)", base.DEC)
f.packets_held = ProtoField.uint32("ferrolink.status.packets_held", "Packets of the band held", base.DEC)
f.bands_completed = ProtoField.uint32("ferrolink.status.bands_completed", "Bands completed", base.DEC)
f.sequence_answered = ProtoField.uint32("ferrolink.status.sequence_answered",
  "Last command sequence answered", base.DEC)

f.response_in = ProtoField.framenum("ferrolink.response_in", "Response in", base.NONE)
f.response_to = ProtoField.framenum("ferrolink.response_to", "Response to", base.NONE)
f.response_time = ProtoField.relative_time("ferrolink.response_time", "Response time")
f.first_sent = ProtoField.framenum("ferrolink.analysis.first_sent", "First sent in", base.NONE)

local e_checksum = ProtoExpert.new("ferrolink.checksum.bad", "Bad checksum", expert.group.CHECKSUM,
  expert.severity.ERROR)
local e_length = ProtoExpert.new("ferrolink.frame_length.bad",
  "frameLength is shorter than 28 or longer than the frame", expert.group.MALFORMED,
  expert.severity.ERROR)
local e_fatal = ProtoExpert.new("ferrolink.status.fatal", "The board reports a fatal error",
  expert.group.RESPONSE_CODE, expert.severity.ERROR)
local e_resend = ProtoExpert.new("ferrolink.status.resend", "The board asks for a resend",
  expert.group.SEQUENCE, expert.severity.WARN)
local e_unanswered = ProtoExpert.new("ferrolink.response_missing", "No reply to this command",
  expert.group.SEQUENCE, expert.severity.NOTE)
-- As TCP marks a retransmission: a print frame for a band and packet this capture already
-- carried since the last Reset (the board asked for it again, or the host resent unasked).
local e_resent = ProtoExpert.new("ferrolink.analysis.resent", "Resent print frame",
  expert.group.SEQUENCE, expert.severity.NOTE)
board.experts = { e_checksum, e_length, e_fatal, e_resend, e_unanswered, e_resent }

-- Commands and replies of the capture, keyed by frameIndex and sequence: {command frame number,
-- its time, reply frame number}. Filled on the first pass; a second pass (or the GUI) also links
-- the command to its reply.
local exchanges = {}
-- Print frames by "band:packet" -> the frame that first carried it since the last Reset, and
-- frame number -> that first frame for each resent one (so every pass shows the same).
local first_sent, resent = {}, {}
function board.init() exchanges, first_sent, resent = {}, {}, {} end

local function word_sum(tvb, words)
  local sum = 0
  for i = 0, words - 1 do
    sum = (sum + tvb(i * 4, 4):uint()) % 4294967296
  end
  return sum
end

local function add_status(tree, tvb, data_end)
  if data_end < 24 + 32 then return nil end
  local word = tvb(24, 4):uint()
  local status = tree:add(tvb(24, 32), "Status")
  local bits = status:add(f.error_word, tvb(24, 4))
  for bit = 0, 13 do bits:add(bit_fields[bit], tvb(24, 4)) end
  status:add(f.resend_index, tvb(28, 4))
  status:add(f.current_maximum, tvb(32, 4))
  status:add(f.version_high, tvb(36, 2))
  status:add(f.version_low, tvb(38, 2))
  status:add(f.band, tvb(40, 4))
  status:add(f.packets_held, tvb(44, 4))
  status:add(f.bands_completed, tvb(48, 4))
  status:add(f.sequence_answered, tvb(52, 4))
  if bit.band(word, 0xFC) ~= 0 then status:add_proto_expert_info(e_fatal) end
  if bit.band(word, 0x03) ~= 0 then status:add_proto_expert_info(e_resend) end
  local set = {}
  for b = 0, 13 do
    if bit.band(word, 2 ^ b) ~= 0 then set[#set + 1] = "b" .. b end
  end
  return string.format("errors %s, resend %d, current max %d, version %d.%d",
    #set > 0 and table.concat(set, ",") or "none", tvb(28, 4):int(), tvb(32, 4):int(),
    tvb(36, 2):uint(), tvb(38, 2):uint())
end

local function add_command(tree, tvb, symbol, data_end)
  if symbol == S_END_OF_BAND and data_end >= 24 + 12 then
    tree:add(f.eob_packets, tvb(24, 4))
    tree:add(f.eob_band_bytes, tvb(28, 4))
    tree:add(f.eob_packet_size, tvb(32, 4))
    return string.format("%d packets, %d bytes, packet size %d", tvb(24, 4):uint(),
      tvb(28, 4):uint(), tvb(32, 4):uint())
  elseif symbol == S_SET_ERRORS and data_end >= 24 + 4 then
    tree:add(f.set_errors, tvb(24, 4))
    return string.format("bits 0x%04x", tvb(24, 4):uint())
  end
  return nil
end

local function pair(tree, pinfo, key, symbol)
  local exchange = exchanges[key]
  if is_command(symbol) then
    if not pinfo.visited then
      exchanges[key] = { command = pinfo.number, time = pinfo.rel_ts }
    elseif exchange and exchange.command == pinfo.number and exchange.reply then
      tree:add(f.response_in, exchange.reply):set_generated()
    elseif exchange and exchange.command == pinfo.number then
      tree:add_proto_expert_info(e_unanswered)
    end
  elseif exchange and exchange.command < pinfo.number and
      (exchange.reply == nil or exchange.reply == pinfo.number) then
    exchange.reply = pinfo.number
    tree:add(f.response_to, exchange.command):set_generated()
    -- Relative times are small numbers: a difference of epoch times would lose the nanoseconds.
    local elapsed = pinfo.rel_ts - exchange.time
    local seconds = math.floor(elapsed)
    tree:add(f.response_time, NSTime.new(seconds, math.floor((elapsed - seconds) * 1e9 + 0.5)))
      :set_generated()
  end
end

-- Marks a good print frame whose band and packet were carried before; a Reset starts a new
-- job, whose bands count afresh.
local function analyse_resend(tree, pinfo, symbol, key)
  if not pinfo.visited then
    if symbol == S_RESET then
      first_sent = {}
    elseif symbol == S_PRINT then
      if first_sent[key] then resent[pinfo.number] = first_sent[key] else first_sent[key] = pinfo.number end
    end
  end
  local first = resent[pinfo.number]
  if symbol == S_PRINT and first then
    tree:add(f.first_sent, first):set_generated()
    -- One text for all, so that the expert view counts them on one line.
    tree:add_proto_expert_info(e_resent)
    return true
  end
  return false
end

local function dissect(tvb, pinfo, tree)
  pinfo.cols.protocol = "FERROLINK"
  local length = tvb(12, 2):uint()
  local symbol = tvb(14, 2):uint()
  local frame_index = tvb(16, 4):uint()
  local packet_index = tvb(20, 4):uint()
  local t = tree:add(board, tvb(), "Ferrolink board frame")
  local eth = t:add(tvb(0, 14), string.format("Ethernet, Src: %s, Dst: %s", tostring(tvb(6, 6):ether()),
    tostring(tvb(0, 6):ether())))
  eth:add(f.eth_dst, tvb(0, 6))
  eth:add(f.eth_src, tvb(6, 6))
  eth:add(f.eth_addr, tvb(0, 6)):set_hidden()
  eth:add(f.eth_addr, tvb(6, 6)):set_hidden()
  local length_item = t:add(f.frame_length, tvb(12, 2))
  t:add(f.data_symbol, tvb(14, 2))
  t:add(f.frame_index, tvb(16, 4))
  t:add(f.packet_index, tvb(20, 4))
  if is_command(symbol) or symbol == S_REPLY then
    t:add(f.sequence, tvb(20, 4)):set_generated()
  elseif symbol == S_REPORT then
    t:add(f.report_number, tvb(20, 4)):set_generated()
  end

  local name = symbols[symbol] or string.format("dataSymbol 0x%04x", symbol)
  local info
  if symbol == S_PRINT then
    info = string.format("%s band %d, packet %d", name, frame_index, packet_index)
  elseif symbol == S_REPORT then
    info = string.format("%s %d, band %d", name, packet_index, frame_index)
  else
    info = string.format("%s band %d, seq %d", name, frame_index, packet_index)
  end

  if length < 28 or length > tvb:reported_len() then
    length_item:add_proto_expert_info(e_length)
    pinfo.cols.info = info .. " [BAD LENGTH]"
    return tvb:len()
  end
  -- Cut by the capture's snapshot length: the frame was whole on the wire, only its checksum
  -- cannot be judged here.
  if length > tvb:len() then
    pinfo.cols.info = info .. " [CUT BY THE CAPTURE]"
    return tvb:len()
  end
  if length > 28 then t:add(f.data, tvb(24, length - 28)) end
  local checksum = t:add(f.checksum, tvb(length - 4, 4))
  local good = word_sum(tvb, math.floor(length / 4)) == 0
  checksum:add(f.checksum_status, good and 1 or 0):set_generated()
  if not good then checksum:add_proto_expert_info(e_checksum) end

  local detail
  if is_status(symbol) then
    detail = add_status(t, tvb, length - 4)
  elseif is_command(symbol) then
    detail = add_command(t, tvb, symbol, length - 4)
  end
  if detail then info = info .. ": " .. detail end
  if good then
    local key = frame_index .. ":" .. packet_index
    if is_command(symbol) or symbol == S_REPLY then pair(t, pinfo, key, symbol) end
    -- A damaged frame's header cannot be trusted: it neither counts as sent nor as resent.
    if analyse_resend(t, pinfo, symbol, key) then info = info .. " [RESENT]" end
  else
    info = info .. " [BAD CHECKSUM]"
  end
  pinfo.cols.info = info
  return tvb:len()
end

-- A board frame: the PC's protocol MAC on either side (the board's first MAC byte varies, and a
-- frame damaged on the way may carry a damaged board address), a length where Ethernet II keeps
-- its type, and room for the header and checksum.
local function heuristic(tvb, pinfo, tree)
  if tvb:len() < 28 or tvb(12, 2):uint() >= 0x0600 then return false end
  local dst = tostring(tvb(0, 6):ether())
  local src = tostring(tvb(6, 6):ether())
  if dst ~= PC_MAC and src ~= PC_MAC then return false end
  dissect(tvb, pinfo, tree)
  return true
end

board.dissector = function(tvb, pinfo, tree)
  if not heuristic(tvb, pinfo, tree) then return 0 end
  return tvb:len()
end
board:register_heuristic("eth", heuristic)

-- What the statistics read of each frame; Wireshark wants these made before any tap exists.
local get = {}
for _, name in ipairs({ "ferrolink.data_symbol", "ferrolink.frame_index", "ferrolink.checksum.status",
                        "ferrolink.analysis.first_sent", "ferrolink.response_time" }) do
  get[name] = Field.new(name)
end

-- tshark -q -z ferrolink,bands[,FILTER]: per band the print frames, those resent, the frames
-- that failed their checksum (by the band their header names) and the board's reply times.
local function band_statistics(argument)
  local filter = argument:match("^ferrolink,bands,(.+)$")
  local bands = {}
  local tap = Listener.new("frame", filter and ("ferrolink && (" .. filter .. ")") or "ferrolink")
  function tap.reset() bands = {} end
  -- Only what is counted makes a row: commands to "any" band leave none.
  local function row_of(band)
    bands[band] = bands[band] or { frames = 0, resent = 0, bad = 0, replies = 0, sum = 0 }
    return bands[band]
  end
  function tap.packet()
    local band = get["ferrolink.frame_index"]()
    if not band then return end
    band = band.value
    local status = get["ferrolink.checksum.status"]()
    if status and status.value == 0 then
      local row = row_of(band)
      row.bad = row.bad + 1
      return
    end
    if get["ferrolink.data_symbol"]().value == S_PRINT then
      local row = row_of(band)
      row.frames = row.frames + 1
      if get["ferrolink.analysis.first_sent"]() then row.resent = row.resent + 1 end
    end
    local time = get["ferrolink.response_time"]()
    if time then
      local row = row_of(band)
      local ms = time.value:tonumber() * 1000
      row.replies = row.replies + 1
      row.sum = row.sum + ms
      row.min = math.min(row.min or ms, ms)
      row.max = math.max(row.max or ms, ms)
    end
  end
  function tap.draw()
    local order = {}
    for band in pairs(bands) do order[#order + 1] = band end
    table.sort(order)
    local rule = string.rep("=", 79)
    print(rule)
    print("Ferrolink bands: print frames, resent, bad checksums, reply times (ms)")
    print("Filter: " .. (filter or "none"))
    print(string.format("%10s %10s %8s %8s %8s %10s %10s %10s", "Band", "Frames", "Resent",
      "BadSum", "Replies", "Min", "Avg", "Max"))
    local total = { frames = 0, resent = 0, bad = 0, replies = 0 }
    local function times(row)
      if row.replies == 0 then return "-", "-", "-" end
      return string.format("%.3f", row.min), string.format("%.3f", row.sum / row.replies),
        string.format("%.3f", row.max)
    end
    for _, band in ipairs(order) do
      local row = bands[band]
      print(string.format("%10d %10d %8d %8d %8d %10s %10s %10s", band, row.frames, row.resent,
        row.bad, row.replies, times(row)))
      for k in pairs(total) do total[k] = total[k] + row[k] end
    end
    print(string.format("%10s %10d %8d %8d %8d", "all", total.frames, total.resent, total.bad,
      total.replies))
    print(rule)
  end
end
register_stat_cmd_arg("ferrolink,bands", band_statistics)
