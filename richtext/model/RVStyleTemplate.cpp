#include "richtext/model/RVStyleTemplate.h"

#include <algorithm>
#include <climits>
#include <set>

#include "platform/sysutils.h"
#include "richtext/model/RVItem.h"

namespace pelvar {

namespace {
// The paragraph set split into the two stored ranges, and joined back.
TRVParaInfoProperties JoinPara(TRVParaInfoProperties1 p1, TRVParaInfoProperties2 p2) {
  return TRVParaInfoProperties::FromBits(uint64_t{p1.ToBits()} | (uint64_t{p2.ToBits()} << rvpiNoWrap));
}
TRVParaInfoProperties1 Para1(TRVParaInfoProperties p) {
  return TRVParaInfoProperties1::FromBits(static_cast<uint32_t>(p.ToBits() & ((uint64_t{1} << rvpiNoWrap) - 1)));
}
TRVParaInfoProperties2 Para2(TRVParaInfoProperties p) {
  return TRVParaInfoProperties2::FromBits(static_cast<uint8_t>(p.ToBits() >> rvpiNoWrap));
}
}  // namespace

// ---- Template ----------------------------------------------------------------------------------

TRVStyleTemplate::TRVStyleTemplate(TCollection* collection) : TCollectionItem(collection) {
  TRVStyleTemplateCollection* c = Templates();
  if (!c || (c->Style() && c->Style()->ComponentState().Contains(csLoading))) return;
  if (c->Count() == 1 || c->name_counter_ == INT32_MAX) c->name_counter_ = 0;
  AnsiString name;
  for (;;) {
    ++c->name_counter_;
    name = Format(c->DefStyleName, {c->name_counter_});
    bool taken = false;
    for (int32_t i = 0; i < c->Count() && !taken; ++i)
      taken = c->Items(i) != this && c->Items(i)->name_ == name;
    if (!taken) break;
  }
  SetName(name);
}

TRVStyleTemplate::~TRVStyleTemplate() {
  if (parent_) parent_->RemoveChild(this);
  for (TRVStyleTemplate* child : children_) {
    child->parent_ = nullptr;
    child->parent_id_ = -1;
  }
  children_.clear();
  if (TRVStyleTemplateCollection* c = Templates())
    if (c->normal_ == this) c->normal_ = nullptr;
}

TRVStyleTemplateCollection* TRVStyleTemplate::Templates() const {
  return dynamic_cast<TRVStyleTemplateCollection*>(Collection());
}

bool TRVStyleTemplate::Active() const {
  TRVStyleTemplateCollection* c = Templates();
  return c && c->Style() && !c->Style()->ComponentState().Contains(csLoading);
}

void TRVStyleTemplate::SetName(const AnsiString& value) {
  if (value == name_) return;
  TRVStyleTemplateCollection* c = Templates();
  if (c && name_ == "Normal" && c->normal_ == this) c->normal_ = nullptr;
  name_ = value;
  if (c && name_ == "Normal") c->normal_ = this;
}

TRVStyleTemplateId TRVStyleTemplate::Id() {
  TRVStyleTemplateCollection* c = Templates();
  while (id_ <= 0) {
    id_ = RVRandomId();
    if (c)
      for (int32_t i = 0; i < c->Count(); ++i)
        if (c->Items(i) != this && c->Items(i)->Id() == id_) {
          id_ = 0;
          break;
        }
  }
  return id_;
}

void TRVStyleTemplate::AddChild(TRVStyleTemplate* child) { children_.push_back(child); }

void TRVStyleTemplate::RemoveChild(TRVStyleTemplate* child) {
  children_.erase(std::remove(children_.begin(), children_.end(), child), children_.end());
}

void TRVStyleTemplate::SetParentId(TRVStyleTemplateId value) {
  if (value == parent_id_) return;
  const bool active = Active();
  if (parent_) parent_->RemoveChild(this);
  parent_id_ = value;
  parent_ = nullptr;
  if (!active || value <= 0) return;
  TRVStyleTemplateCollection* c = Templates();
  const int32_t index = c->IndexOfId(value);
  if (index < 0) return;
  TRVStyleTemplate* p = c->Items(index);
  std::set<const TRVStyleTemplate*> seen;
  for (const TRVStyleTemplate* t = p; t && seen.insert(t).second; t = t->parent_) {
    if (t == this) {
      parent_id_ = -1;
      throw EDocViewError("Circular references are not allowed");
    }
  }
  parent_ = p;
  p->AddChild(this);
}

void TRVStyleTemplate::Assign(TPersistent* source) {
  auto* s = dynamic_cast<TRVStyleTemplate*>(source);
  if (!s) {
    TCollectionItem::Assign(source);
    return;
  }
  TextStyle.Assign(&s->TextStyle);
  ParaStyle.Assign(&s->ParaStyle);
  SetName(s->name_);
  ValidTextProperties = s->ValidTextProperties;
  ValidParaProperties1 = s->ValidParaProperties1;
  ValidParaProperties2 = s->ValidParaProperties2;
  if (Collection() && Collection() == s->Collection()) parent_id_ = s->parent_id_;
}

// The properties defined along the parent chain (nearer templates first); a chain that
// runs in a circle (ids read from a stream) is walked once.
TRVFontInfoProperties TRVStyleTemplate::CollectText(TCustomRVFontInfo* target, TRVFontInfoProperties mask) {
  TRVFontInfoProperties done;
  std::set<const TRVStyleTemplate*> seen;
  for (TRVStyleTemplate* t = this; t && seen.insert(t).second; t = t->parent_) {
    const TRVFontInfoProperties now =
        TRVFontInfoProperties::FromBits(t->ValidTextProperties.ToBits() & mask.ToBits()) - done;
    if (!now.Empty()) target->AssignProperties(&t->TextStyle, now);
    done = done + now;
  }
  return done;
}

TRVParaInfoProperties TRVStyleTemplate::CollectPara(TCustomRVParaInfo* target, TRVParaInfoProperties mask) {
  TRVParaInfoProperties done;
  std::set<const TRVStyleTemplate*> seen;
  for (TRVStyleTemplate* t = this; t && seen.insert(t).second; t = t->parent_) {
    const TRVParaInfoProperties valid = JoinPara(t->ValidParaProperties1, t->ValidParaProperties2);
    const TRVParaInfoProperties now = TRVParaInfoProperties::FromBits(valid.ToBits() & mask.ToBits()) - done;
    if (!now.Empty()) target->AssignProperties(&t->ParaStyle, now);
    done = done + now;
  }
  return done;
}

void TRVStyleTemplate::ApplyToTextStyle(TCustomRVFontInfo* text_style, TCustomRVParaInfo* para_style,
                                        bool override_modified) {
  auto* fi = dynamic_cast<TFontInfo*>(text_style);
  TRVFontInfoProperties mask = RVAllFontInfoProperties;
  if (!override_modified && fi) mask = mask - fi->ModifiedProperties;
  TRVFontInfoProperties done = CollectText(text_style, mask);
  TRVStyleTemplateCollection* c = Templates();
  if (para_style && para_style->StyleTemplateId > 0 && c) {
    const int32_t pi = c->IndexOfId(para_style->StyleTemplateId);
    if (pi >= 0) {
      TRVStyleTemplate* pt = c->Items(pi);
      TRVFontInfoProperties mask2 = RVAllFontInfoProperties - done;
      if (fi && fi->StyleTemplateId != pt->Id()) mask2 = mask2 - fi->ModifiedProperties;
      done = done + pt->CollectText(text_style, mask2);
    }
  }
  if (!fi) return;
  if (override_modified) {
    fi->ModifiedProperties = fi->ModifiedProperties - done;
    fi->StyleTemplateId = Id();
  }
  const TRVFontInfoProperties rest = RVAllFontInfoProperties - done - fi->ModifiedProperties;
  if (rest.Empty()) return;
  if (c && c->normal_)
    c->normal_->CollectText(text_style, rest);
  else if (c && c->Style() && c->Style()->TextStyles()->Count() > 0)
    text_style->AssignProperties(c->Style()->TextStyles()->Items(0), rest);
}

void TRVStyleTemplate::ApplyToParaStyle(TCustomRVParaInfo* para_style, bool override_modified) {
  auto* pi = dynamic_cast<TParaInfo*>(para_style);
  TRVParaInfoProperties modified;
  if (pi) modified = JoinPara(pi->ModifiedProperties1, pi->ModifiedProperties2);
  TRVParaInfoProperties mask = RVAllParaInfoProperties;
  if (!override_modified && pi) mask = mask - modified;
  const TRVParaInfoProperties done = CollectPara(para_style, mask);
  if (!pi) return;
  if (override_modified) {
    modified = modified - done;
    pi->ModifiedProperties1 = Para1(modified);
    pi->ModifiedProperties2 = Para2(modified);
    pi->StyleTemplateId = Id();
  }
  const TRVParaInfoProperties rest = RVAllParaInfoProperties - done - modified;
  if (rest.Empty()) return;
  TRVStyleTemplateCollection* c = Templates();
  if (c && c->normal_)
    c->normal_->CollectPara(para_style, rest);
  else if (c && c->Style() && c->Style()->ParaStyles()->Count() > 0)
    para_style->AssignProperties(c->Style()->ParaStyles()->Items(0), rest);
}

// ---- Collection --------------------------------------------------------------------------------

TRVStyleTemplateCollection::TRVStyleTemplateCollection(TRVStyle* style)
    : TCollection(ItemClass<TRVStyleTemplate>()), style_(style) {}

TRVStyleTemplateCollection::~TRVStyleTemplateCollection() {
  // The templates forget each other before they go.
  for (int32_t i = 0; i < Count(); ++i) {
    Items(i)->parent_ = nullptr;
    Items(i)->children_.clear();
  }
  normal_ = nullptr;
}

int32_t TRVStyleTemplateCollection::IndexOfId(TRVStyleTemplateId id) const {
  for (int32_t i = 0; i < Count(); ++i)
    if (Items(i)->Id() == id) return i;
  return -1;
}

void TRVStyleTemplateCollection::Assign(TPersistent* source) {
  if (auto* s = dynamic_cast<TRVStyleTemplateCollection*>(source))
    AssignEx(s, false);
  else
    TCollection::Assign(source);
}

void TRVStyleTemplateCollection::AssignEx(TRVStyleTemplateCollection* source, bool copy_ids) {
  if (source == this) return;
  Clear();
  for (int32_t i = 0; i < source->Count(); ++i) Add()->Assign(source->Items(i));
  if (copy_ids) {
    for (int32_t i = 0; i < Count(); ++i) Items(i)->id_ = source->Items(i)->Id();
    for (int32_t i = 0; i < Count(); ++i) Items(i)->SetParentId(source->Items(i)->ParentId());
  } else {
    for (int32_t i = 0; i < Count(); ++i)
      if (TRVStyleTemplate* p = source->Items(i)->Parent()) Items(i)->SetParentId(Items(p->Index())->Id());
  }
}

void TRVStyleTemplateCollection::ResetTextStyle(TCustomRVFontInfo* text_style, TCustomRVParaInfo* para_style) {
  if (normal_) {
    normal_->ApplyToTextStyle(text_style, para_style, true);
    return;
  }
  if (style_ && style_->TextStyles()->Count() > 0) text_style->Assign(style_->TextStyles()->Items(0));
  if (auto* fi = dynamic_cast<TFontInfo*>(text_style)) fi->ModifiedProperties = TRVFontInfoProperties();
  text_style->StyleTemplateId = -1;
}

void TRVStyleTemplateCollection::ResetParaStyle(TCustomRVParaInfo* para_style) {
  if (normal_) {
    normal_->ApplyToParaStyle(para_style, true);
    return;
  }
  if (style_ && style_->ParaStyles()->Count() > 0) para_style->Assign(style_->ParaStyles()->Items(0));
  if (auto* pi = dynamic_cast<TParaInfo*>(para_style)) {
    pi->ModifiedProperties1 = TRVParaInfoProperties1();
    pi->ModifiedProperties2 = TRVParaInfoProperties2();
  }
  para_style->StyleTemplateId = -1;
}

void TRVStyleTemplateCollection::UpdateParentReferences() {
  for (int32_t i = 0; i < Count(); ++i) {
    TRVStyleTemplate* t = Items(i);
    if (t->parent_) t->parent_->RemoveChild(t);
    t->parent_ = nullptr;
    if (t->parent_id_ <= 0) continue;
    const int32_t p = IndexOfId(t->parent_id_);
    if (p < 0) continue;
    t->parent_ = Items(p);
    Items(p)->AddChild(t);
  }
}

// ---- The style sheet's templates ---------------------------------------------------------------

TRVStyleTemplateCollection* TRVStyle::StyleTemplates() {
  if (!style_templates_) style_templates_ = std::make_shared<TRVStyleTemplateCollection>(this);
  return style_templates_.get();
}

}  // namespace pelvar
