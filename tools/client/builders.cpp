#include "client/builders.h"

namespace vornhal::client {

OutPacket CVersionPacket(uint16_t version) { return PayloadWriter().U16(version).Build(multi_id::kVersion); }

OutPacket CCreateAccountPacket(std::string_view name, std::string_view password,
                               std::string_view real_name, std::string_view mail) {
  return PayloadWriter().Str8(name).Str8(password).Str8(real_name).Str8(mail).Build(multi_id::kCreateAccount);
}

OutPacket CLoginPacket(std::string_view name, std::string_view password, bool force) {
  return PayloadWriter().Str8(name).Str8(password).U8(force ? 1 : 0).Build(multi_id::kLogin);
}

OutPacket CAppearancePacket(uint8_t sex, uint8_t hair_type, TAsColor hair_color) {
  return PayloadWriter().U8(sex).U8(hair_type).Color(hair_color).Build(multi_id::kAppearance);
}

OutPacket CTempDataPacket(uint8_t kind, std::string_view key) {
  PayloadWriter w;
  w.U8(kind);
  if (kind == 2) w.U8(0).Str8(key);
  return w.Build(multi_id::kTempData);
}

OutPacket CRuleCheckPacket() { return PayloadWriter().U8(0).Str8("").Build(multi_id::kRuleCheck); }

OutPacket CChangePasswordPacket(std::string_view name, std::string_view old_password,
                                std::string_view new_password) {
  return PayloadWriter().Str8(name).Str8(old_password).Str8(new_password).Build(multi_id::kChangePassword);
}

OutPacket CRuleRequestPacket() { return OutPacket{multi_id::kRuleRequest, {}}; }

OutPacket CServerListPacket(uint8_t kind) {
  PayloadWriter w;
  w.U8(kind);
  if (kind == 0) w.U8(0);
  return w.Build(multi_id::kServerList);
}

OutPacket CWebRequestPacket(uint8_t kind) { return PayloadWriter().U8(kind).Build(multi_id::kWebRequest); }

OutPacket CScriptRequestPacket(uint8_t kind, std::string_view script_name) {
  PayloadWriter w;
  w.U8(kind);
  if (kind == 0) w.Str8(script_name);
  return w.Build(multi_id::kScript);
}

OutPacket CPickItemPacket(uint32_t object_id) { return PayloadWriter().U32(object_id).Build(zone_id::kPickItem); }

OutPacket CDropItemPacket(uint8_t kind, uint8_t slot, uint8_t count) {
  return PayloadWriter().U8(0).U8(kind).U8(slot).U8(count).Build(zone_id::kDropItem);
}

OutPacket CDropGlodPacket(uint32_t amount) { return PayloadWriter().U32(amount).Build(zone_id::kDropGlod); }

OutPacket CServerInfoRequestPacket() { return OutPacket{zone_id::kServerInfoRequest, {}}; }

OutPacket CChatPacket(uint8_t chat_type, std::string_view text) {
  return PayloadWriter().U8(chat_type).Str8(text).Build(zone_id::kChat);
}

OutPacket CZoneLoginPacket(std::string_view name) {
  return PayloadWriter().U8(0).Str8("").Str8(name).Build(zone_id::kZoneLogin);
}

OutPacket CDirectionPacket(uint8_t dir) { return PayloadWriter().U8(dir).Build(zone_id::kDirection); }

OutPacket CAttackPacket(uint32_t target_id) { return PayloadWriter().U32(target_id).Build(zone_id::kAttack); }

OutPacket CWhisperPacket(std::string_view target, std::string_view text) {
  return PayloadWriter().U8(0).Str8(target).Str8(text).Build(zone_id::kWhisper);
}

OutPacket CUsePacket(uint8_t category, uint8_t slot, uint8_t inven_type, uint8_t type, const UseExtra& extra) {
  PayloadWriter w;
  w.U8(category).U8(slot).U8(inven_type).U8(type);
  auto words = [&](size_t n) {
    for (size_t i = 0; i < n; ++i) w.U16(i < extra.words.size() ? extra.words[i] : 0);
  };
  switch (type) {
    case 1: w.Str8(extra.text); break;
    case 2: w.U32(extra.value); break;
    case 3: words(4); break;
    case 4: words(3); break;
    case 6:
    case 9: words(2); break;
    case 7: words(1); break;
    case 8: w.U8(extra.slot_type).U8(extra.slot2); break;
    default: break;
  }
  return w.Build(zone_id::kUse);
}

OutPacket CUseItemPacket(uint8_t slot) { return CUsePacket(1, slot, 0, 5); }

OutPacket CMotionPacket(uint8_t kind, uint8_t value) {
  return PayloadWriter().U8(kind).U8(value).U32(0).Build(zone_id::kMotion);
}

OutPacket CUnequipPacket(uint8_t equip_slot) {
  return PayloadWriter().U8(equip_slot).U8(0).U8(0).U8(0).Build(zone_id::kUnequip);
}

OutPacket CItemShopPacket(uint8_t type, uint32_t value1, uint32_t value2) {
  PayloadWriter w;
  w.U8(type);
  if (type == 1) w.U32(value1).U32(value2);
  return w.Build(zone_id::kItemShop);
}

OutPacket CChangeSlotPacket(uint8_t type, const ChangeSlotFields& f) {
  PayloadWriter w;
  w.U8(type);
  switch (type) {
    case 0:
    case 1: w.U8(f.category).U8(f.slot1).U8(f.slot2); break;
    case 2: w.U8(f.category).U8(f.slot1).U32(f.elem_alloc); break;
    case 7: w.U8(f.weapon_alloc); break;
    case 8: w.U8(f.category).U8(f.slot1).U8(f.slot2).U8(f.number); break;
    default: break;
  }
  return w.Build(zone_id::kChangeSlot);
}

OutPacket CExchangeSlotsPacket(uint8_t slot1, uint8_t slot2) {
  ChangeSlotFields f;
  f.slot1 = slot1;
  f.slot2 = slot2;
  return CChangeSlotPacket(0, f);
}

OutPacket CMergeSlotsPacket(uint8_t src_slot, uint8_t dest_slot, uint8_t number) {
  ChangeSlotFields f;
  f.slot1 = src_slot;
  f.slot2 = dest_slot;
  f.number = number;
  return CChangeSlotPacket(8, f);
}

OutPacket CMovePacket(uint8_t dir, uint8_t seq) { return PayloadWriter().U8(dir).U8(seq).U8(0).Build(zone_id::kMove); }

OutPacket CSignalRequestPacket() { return PayloadWriter().U32(0).Build(zone_id::kSignalRequest); }

OutPacket CBattleMatchListPacket() { return OutPacket{zone_id::kBattleMatchList, {}}; }

OutPacket CObjectInfoRequestPacket(uint8_t type, uint32_t id, uint16_t flags) {
  return PayloadWriter().U8(type).U32(id).U16(flags).Build(zone_id::kObjectInfoRequest);
}

OutPacket CHPInfoRequestPacket(uint32_t object_id) {
  return PayloadWriter().U32(object_id).Build(zone_id::kHPInfoRequest);
}

OutPacket CStatUpPacket(uint8_t code) { return PayloadWriter().U8(code).Build(zone_id::kStatUp); }

OutPacket CPathMovePacket(TMapPoint point, uint8_t dir, const std::vector<uint8_t>& steps, TMapPoint next,
                          uint8_t next_dir) {
  if (steps.size() > 255) throw ProtocolError("a path move carries at most 255 steps");
  PayloadWriter w;
  w.U16(point.X).U16(point.Y).U8(dir).U8(static_cast<uint8_t>(steps.size())).Bytes(steps);
  w.U16(next.X).U16(next.Y).U8(next_dir);
  return w.Build(zone_id::kPathMove);
}

OutPacket CIgnoredPacket() { return PayloadWriter().U8(0).U8(0).Build(zone_id::kIgnored); }

OutPacket CScriptVariablesPacket(std::string_view script_name, uint32_t object_id, const Variables& variables) {
  if (variables.size() > 0xFFFF) throw ProtocolError("too many script variables");
  PayloadWriter w;
  w.U8(1).Str8(script_name).U32(object_id).U16(static_cast<uint16_t>(variables.size()));
  for (const auto& [name, value] : variables) w.Str8(name).Str8(value);
  return w.Build(zone_id::kScript);
}

OutPacket CScriptEndPacket(std::string_view script_name, uint32_t object_id) {
  return PayloadWriter().U8(4).Str8(script_name).U32(object_id).Build(zone_id::kScript);
}

OutPacket CScriptCodePacket(uint8_t code) { return PayloadWriter().U8(code).Build(zone_id::kScript); }

OutPacket CWebBoardPacket(uint8_t type) { return PayloadWriter().U8(type).Build(zone_id::kWebBoard); }

OutPacket CBulletinBoardPacket(uint8_t type, uint8_t index) {
  PayloadWriter w;
  w.U8(type);
  if (type == 1 || type == 2 || type == 4) w.U8(index);
  return w.Build(zone_id::kBulletinBoard);
}

}  // namespace vornhal::client
