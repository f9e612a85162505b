// The scripts the engine runs in pages, in one place.
#pragma once

#include <string>

namespace wkechr::scripts {

// Title changes made by the page's scripts are reported through a binding the page calls.
inline constexpr char kTitleBinding[] = "__wkeTitleChanged";
inline constexpr char kTitleWatcher[] =
    "(()=>{let last=null;const check=()=>{const t=document.title;if(t!==last){last=t;"
    "try{__wkeTitleChanged(t)}catch(e){}}};"
    "new MutationObserver(check).observe(document,{subtree:true,childList:true,characterData:true});"
    "document.addEventListener('DOMContentLoaded',check);})()";

inline constexpr char kTitle[] = "document.title";

// [width, height] of the whole laid-out page in CSS pixels.
inline constexpr char kContentsSize[] =
    "(()=>{const d=document.documentElement,b=document.body;"
    "return [Math.max(d?d.scrollWidth:0,b?b.scrollWidth:0),"
    "Math.max(d?d.scrollHeight:0,b?b.scrollHeight:0)]})()";

// [x, y, width, height] of the caret, or of the focused field when the selection gives none.
inline constexpr char kCaret[] =
    "(()=>{let r=null;const s=getSelection();"
    "if(s&&s.rangeCount){const g=s.getRangeAt(0).cloneRange();g.collapse(false);"
    "const l=g.getClientRects();r=l.length?l[l.length-1]:g.getBoundingClientRect();}"
    "const a=document.activeElement;"
    "if((!r||(!r.x&&!r.y&&!r.height))&&a&&a!==document.body&&a!==document.documentElement){"
    "const b=a.getBoundingClientRect();r={x:b.x+2,y:b.y+2,width:1,height:Math.max(0,b.height-4)};}"
    "return r?[r.x,r.y,Math.max(1,r.width),r.height]:[0,0,0,0];})()";

inline const char* DesignMode(bool editable) {
    return editable ? "document.designMode='on'" : "document.designMode='off'";
}

// Sets the volume of the media there are now, and of those that start playing later.
inline std::string VolumeNow(float level) {
    return "document.querySelectorAll('audio,video').forEach(m=>{try{m.volume=" + std::to_string(level) +
           "}catch(e){}})";
}
inline std::string VolumeWatcher(float level) {
    return "document.addEventListener('play',e=>{try{e.target.volume=" + std::to_string(level) + "}catch(x){}},true)";
}

}  // namespace wkechr::scripts
