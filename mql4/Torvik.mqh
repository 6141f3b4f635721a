//+------------------------------------------------------------------+
//| Torvik.mqh: imports of the torvik library and what an expert      |
//| advisor needs around them: one whole update under a lock shared   |
//| by every chart of the terminal, orders that survive the trade     |
//| server's transient refusals, and the broker's stop level.         |
//|                                                                   |
//| Copy TORVIK_ENG.dll (or TORVIK_RUS.dll) to MQL4\Libraries, this   |
//| file to MQL4\Include, and allow DLL imports. Define TORVIK_RUSSIAN |
//| before including it to use the Russian texts.                     |
//+------------------------------------------------------------------+
#property strict

// One bar as the library reads it: 44 bytes, no padding, low before high.
// MqlRates has another layout, so the bars are copied into these records.
struct TorvikBar
  {
   uint              time;
   double            open;
   double            low;
   double            high;
   double            close;
   double            volume;
  };

#define TORVIK_BAR_BYTES   44
#define TORVIK_MAX_BARS    500   // the library's series hold no more
#define TORVIK_MIN_BARS    2     // the reference array's second-newest bar is read
// The smallest window in which every bar the library reads is one the chart
// handed over; torvik-tester's --window takes the same 98 to 500.
#define TORVIK_MIN_WINDOW  98
#define TORVIK_CODE_PAGE   1251  // Russian texts are code page 1251; English is ASCII

#ifdef TORVIK_RUSSIAN
#import "TORVIK_RUS.dll"
#else
#import "TORVIK_ENG.dll"
#endif
int    Rft(int barCount,TorvikBar &refBars[],int refBarsTotal,TorvikBar &seriesBars[],int seriesBarsTotal,
           TorvikBar &extraBars[],int extraBarsTotal,double ask,double bid,int digits,double point,
           double positionOpenPrice,int positionType,int pipMode);
int    IniAll(uchar &symbolText[],uchar &currencyText[]);
double LOT(double fixedLot,double riskPercent,double riskMultiplier,double minLot,double maxLot,double lotStep,
           int lotDivisor,double accountFunds,double marginPerLot,int riskSplit,uchar &symbol[]);
int    OpenSignal();
int    CloseSignal();
int    rews();
// Returns a pointer to a constant NUL-terminated 8-bit text. MQL would read a
// string result as UTF-16, so it is taken as an address and copied out.
int    ErrorDescription(int code);
double PoTP();
double PoSL();
double Dpp();
int    DSP();
int    DCloseSP();
int    HHH_1();
int    HHH_2();
#import

#import "kernel32.dll"
int    lstrlenA(int text);
int    lstrcpynA(uchar &buffer[],int text,int size);
#import

// The standard include stdlib.mqh imports an ErrorDescription of its own
// (returning a string) from stdlib.ex4. Imported functions are scoped by the
// file name of their module, so the library's is always called through this
// one macro, as TORVIK_ENG::ErrorDescription or TORVIK_RUS::ErrorDescription,
// and an expert that includes both compiles. Such an expert calls the
// standard one as stdlib::ErrorDescription: unqualified, the name is
// ambiguous.
#ifdef TORVIK_RUSSIAN
#define TORVIK_ERROR_TEXT_ADDRESS(code) TORVIK_RUS::ErrorDescription(code)
#else
#define TORVIK_ERROR_TEXT_ADDRESS(code) TORVIK_ENG::ErrorDescription(code)
#endif

//+------------------------------------------------------------------+
//| True when the bar record has the library's layout.                |
//+------------------------------------------------------------------+
bool TorvikBarLayoutOk()
  {
   return(sizeof(TorvikBar)==TORVIK_BAR_BYTES);
  }

//+------------------------------------------------------------------+
//| A text as the library takes it: ANSI bytes with a final NUL.      |
//+------------------------------------------------------------------+
void TorvikText(string text,uchar &bytes[])
  {
   StringToCharArray(text,bytes,0,WHOLE_ARRAY,CP_ACP);
  }

//+------------------------------------------------------------------+
//| The library's text for an error code, copied into an MQL string.  |
//+------------------------------------------------------------------+
string TorvikErrorText(int code)
  {
   int text=TORVIK_ERROR_TEXT_ADDRESS(code);
   if(text==0)
      return("");
   int length=lstrlenA(text);
   uchar bytes[];
   ArrayResize(bytes,length+1);
   lstrcpynA(bytes,text,length+1);
   return(CharArrayToString(bytes,0,length,TORVIK_CODE_PAGE));
  }

//+------------------------------------------------------------------+
//| The last `count` bars of the chart, oldest first; the last record |
//| is bar 0, the forming bar as it stands. Returns the count used.   |
//+------------------------------------------------------------------+
int TorvikChartBars(int count,TorvikBar &bars[])
  {
   int n=count;
   if(n>TORVIK_MAX_BARS)
      n=TORVIK_MAX_BARS;
   if(n>Bars)
      n=Bars;
   if(n<TORVIK_MIN_BARS)
      return(0);
   ArrayResize(bars,n);
   for(int i=0; i<n; i++)
     {
      int shift=n-1-i;
      bars[i].time=(uint)Time[shift];
      bars[i].open=Open[shift];
      bars[i].low=Low[shift];
      bars[i].high=High[shift];
      bars[i].close=Close[shift];
      bars[i].volume=(double)Volume[shift];
     }
   return(n);
  }

//+------------------------------------------------------------------+
//| A pip is ten points on 3- and 5-digit quotes (mode 4), else one   |
//| point (mode 5).                                                   |
//+------------------------------------------------------------------+
int TorvikPipMode()
  {
   return((Digits==3 || Digits==5) ? 4 : 5);
  }

//+------------------------------------------------------------------+
//| The terminal-wide lock.                                           |
//|                                                                   |
//| Why: the terminal loads a DLL once and runs each expert in a      |
//| thread of its own, so the experts on all charts (and the          |
//| terminal's tester) share the library's one engine record. An      |
//| update (Rft, IniAll, then the questions) must run whole: another  |
//| chart's Rft in between makes this chart's OpenSignal, PoTP and    |
//| PoSL read that chart's bars, and its CloseSignal that chart's     |
//| position. So every update runs while holding one lock that all    |
//| charts and experts using the library share, built on the          |
//| terminal's atomic compare-and-set of a global variable.           |
//|                                                                   |
//| The lock variable holds 0 when free, else                         |
//| owner * 2^32 + GetTickCount() at the moment it was taken: who     |
//| holds it and since when, in one value that a single               |
//| compare-and-set takes, breaks or frees. Owners are numbered by an |
//| atomic counter per terminal session. Both are temporary global    |
//| variables, gone when the terminal closes; the tester shares them. |
//|                                                                   |
//| It cannot hang the terminal or stay held for ever:                |
//| - a taker tries for at most TORVIK_LOCK_WAIT_MS, sleeping         |
//|   TORVIK_LOCK_SLEEP_MS between tries, and at most                 |
//|   TORVIK_LOCK_TRIES tries (Sleep does not wait in the tester),    |
//|   then skips that update with one log line;                       |
//| - a lock taken more than TORVIK_LOCK_STALE_MS ago belongs to an   |
//|   expert that was removed or stopped in the middle of an update:  |
//|   the next taker breaks it;                                       |
//| - OnDeinit releases a lock its expert holds (TorvikLockRelease).  |
//| A lock is only ever taken and freed by the same update, and every |
//| wait inside it (trade context, retries) is bounded, so no two     |
//| experts can wait on each other.                                   |
//+------------------------------------------------------------------+
#define TORVIK_LOCK_NAME        "torvik.lock"
#define TORVIK_LOCK_OWNERS      "torvik.lock.owners"
#define TORVIK_LOCK_WAIT_MS     5000
#define TORVIK_LOCK_SLEEP_MS    20
#define TORVIK_LOCK_TRIES       250      // TORVIK_LOCK_WAIT_MS / TORVIK_LOCK_SLEEP_MS
#define TORVIK_LOCK_STALE_MS    120000   // above the longest update, closes and their retries included
#define TORVIK_LOCK_OWNER_UNIT  4294967296.0  // 2^32: a GetTickCount() value fits below it
#define TORVIK_LOCK_MAX_OWNER   1048575  // 2^20 - 1: the value stays below 2^52, exact in a double

int    torvikLockOwner=0;    // this expert's number; 0 until TorvikLockInit succeeds
double torvikLockHeld=0.0;   // the value this expert set in the lock; 0 when it holds none

//+------------------------------------------------------------------+
//| Makes sure a temporary global variable exists (created at 0).     |
//+------------------------------------------------------------------+
bool TorvikLockVariable(string name)
  {
   if(GlobalVariableCheck(name))
      return(true);
   // False too when another expert created it a moment ago: then it exists.
   bool created=GlobalVariableTemp(name);
   return(created || GlobalVariableCheck(name));
  }

//+------------------------------------------------------------------+
//| Gives this expert its owner number; called from OnInit, and again |
//| by TorvikLockTake if it failed there.                             |
//+------------------------------------------------------------------+
bool TorvikLockInit()
  {
   if(torvikLockOwner!=0)
      return(true);
   if(!TorvikLockVariable(TORVIK_LOCK_NAME) || !TorvikLockVariable(TORVIK_LOCK_OWNERS))
      return(false);
   for(int attempt=0; attempt<TORVIK_LOCK_TRIES; attempt++)
     {
      double last=GlobalVariableGet(TORVIK_LOCK_OWNERS);
      double next=(last>=1.0 && last<TORVIK_LOCK_MAX_OWNER) ? MathFloor(last)+1.0 : 1.0;
      if(GlobalVariableSetOnCondition(TORVIK_LOCK_OWNERS,next,last))
        {
         torvikLockOwner=(int)next;
         return(true);
        }
     }
   return(false);
  }

//+------------------------------------------------------------------+
//| The owner and the age in milliseconds of a lock value.            |
//+------------------------------------------------------------------+
int TorvikLockHolder(double value)
  {
   return((int)MathFloor(value/TORVIK_LOCK_OWNER_UNIT));
  }

uint TorvikLockAge(double value,uint now)
  {
   uint taken=(uint)(value-TorvikLockHolder(value)*TORVIK_LOCK_OWNER_UNIT);
   return(now-taken);   // wraps with GetTickCount() itself, every 49.7 days
  }

//+------------------------------------------------------------------+
//| Takes the lock: true when this expert now holds it, false when    |
//| the wait ran out (logged once) or the expert is being stopped.    |
//+------------------------------------------------------------------+
bool TorvikLockTake()
  {
   if(!TorvikLockInit())
     {
      Print("torvik: cannot create the global variables of the library lock (error ",GetLastError(),"); update skipped");
      return(false);
     }
   uint started=GetTickCount();
   for(int attempt=0; attempt<TORVIK_LOCK_TRIES && !IsStopped(); attempt++)
     {
      if(!TorvikLockVariable(TORVIK_LOCK_NAME))
         break;
      uint   now=GetTickCount();
      double mine=torvikLockOwner*TORVIK_LOCK_OWNER_UNIT+now;
      if(GlobalVariableSetOnCondition(TORVIK_LOCK_NAME,mine,0.0))
        {
         torvikLockHeld=mine;
         return(true);
        }
      double held=GlobalVariableGet(TORVIK_LOCK_NAME);
      if(held>0.0 && TorvikLockAge(held,now)>(uint)TORVIK_LOCK_STALE_MS &&
         GlobalVariableSetOnCondition(TORVIK_LOCK_NAME,mine,held))
        {
         Print("torvik: broke the library lock that expert #",TorvikLockHolder(held)," took ",
               TorvikLockAge(held,now)/1000," s ago and never released");
         torvikLockHeld=mine;
         return(true);
        }
      if(now-started>=(uint)TORVIK_LOCK_WAIT_MS)
         break;
      Sleep(TORVIK_LOCK_SLEEP_MS);
     }
   if(!IsStopped())
      Print("torvik: another chart held the library lock too long; this bar's update is skipped");
   return(false);
  }

//+------------------------------------------------------------------+
//| Releases the lock if this expert holds it; also for OnDeinit.     |
//+------------------------------------------------------------------+
void TorvikLockRelease()
  {
   if(torvikLockHeld==0.0)
      return;
   // Only the value this expert set: a lock that was broken and taken
   // by another expert is not this one's to free.
   if(!GlobalVariableSetOnCondition(TORVIK_LOCK_NAME,0.0,torvikLockHeld))
      Print("torvik: the library lock had been broken by another expert");
   torvikLockHeld=0.0;
  }

//+------------------------------------------------------------------+
//| Trade server answers worth another try within the same tick.      |
//+------------------------------------------------------------------+
#define TORVIK_ERR_SERVER_BUSY          4
#define TORVIK_ERR_NO_CONNECTION        6
#define TORVIK_ERR_TOO_FREQUENT         8
#define TORVIK_ERR_PRICE_CHANGED        135
#define TORVIK_ERR_OFF_QUOTES           136
#define TORVIK_ERR_BROKER_BUSY          137
#define TORVIK_ERR_REQUOTE              138
#define TORVIK_ERR_TOO_MANY_REQUESTS    141
#define TORVIK_ERR_TRADE_CONTEXT_BUSY   146

#define TORVIK_TRADE_TRIES      3     // of one order within a tick
#define TORVIK_TRADE_PAUSE_MS   500   // between tries, and between looks at a busy trade context
#define TORVIK_CONTEXT_LOOKS    10    // at a trade context busy with another expert: 5 s at most

bool TorvikTransientError(int error)
  {
   switch(error)
     {
      case TORVIK_ERR_SERVER_BUSY:
      case TORVIK_ERR_NO_CONNECTION:
      case TORVIK_ERR_TOO_FREQUENT:
      case TORVIK_ERR_PRICE_CHANGED:
      case TORVIK_ERR_OFF_QUOTES:
      case TORVIK_ERR_BROKER_BUSY:
      case TORVIK_ERR_REQUOTE:
      case TORVIK_ERR_TOO_MANY_REQUESTS:
      case TORVIK_ERR_TRADE_CONTEXT_BUSY:
         return(true);
     }
   return(false);
  }

//+------------------------------------------------------------------+
//| True when this expert may trade now. A trade context busy with    |
//| another expert is waited for, a bounded number of times.          |
//+------------------------------------------------------------------+
bool TorvikTradeReady()
  {
   for(int look=0; look<=TORVIK_CONTEXT_LOOKS && !IsStopped(); look++)
     {
      if(IsTradeAllowed())
         return(true);
      if(!IsTradeContextBusy())
        {
         Print("torvik: trading is not allowed: switch on AutoTrading and \"Allow live trading\" for the expert");
         return(false);
        }
      Sleep(TORVIK_TRADE_PAUSE_MS);
     }
   Print("torvik: the trade context stayed busy with another expert; no order this time");
   return(false);
  }

//+------------------------------------------------------------------+
//| This expert's open positions on the chart's symbol, and the open  |
//| price and type (OP_BUY, OP_SELL) of the newest; 0 and 0 if none.  |
//+------------------------------------------------------------------+
int TorvikPositions(int magic,double &openPrice,int &type)
  {
   int count=0;
   datetime newest=0;
   openPrice=0.0;
   type=0;
   for(int i=0; i<OrdersTotal(); i++)
     {
      if(!OrderSelect(i,SELECT_BY_POS,MODE_TRADES))
         continue;
      if(OrderSymbol()!=Symbol() || OrderMagicNumber()!=magic || OrderType()>OP_SELL)
         continue;
      count++;
      if(OrderOpenTime()>=newest)
        {
         newest=OrderOpenTime();
         openPrice=OrderOpenPrice();
         type=OrderType();
        }
     }
   return(count);
  }

//+------------------------------------------------------------------+
//| Closes one position at the market, retrying transient refusals.   |
//+------------------------------------------------------------------+
bool TorvikClose(int ticket,double lots,int type,int slippage)
  {
   for(int attempt=1; attempt<=TORVIK_TRADE_TRIES; attempt++)
     {
      if(!TorvikTradeReady())
         return(false);
      RefreshRates();
      double price=(type==OP_BUY) ? Bid : Ask;
      ResetLastError();
      if(OrderClose(ticket,lots,NormalizeDouble(price,Digits),slippage,clrNONE))
         return(true);
      int error=GetLastError();
      if(!TorvikTransientError(error) || attempt==TORVIK_TRADE_TRIES)
        {
         Print("torvik: closing #",ticket," failed (try ",attempt,"): ",TorvikErrorText(error));
         return(false);
        }
      Sleep(TORVIK_TRADE_PAUSE_MS);
     }
   return(false);
  }

//+------------------------------------------------------------------+
//| Closes this expert's positions of one type; returns how many.     |
//+------------------------------------------------------------------+
int TorvikClosePositions(int type,int magic,int slippage)
  {
   int closed=0;
   for(int i=OrdersTotal()-1; i>=0; i--)
     {
      if(!OrderSelect(i,SELECT_BY_POS,MODE_TRADES))
         continue;
      if(OrderSymbol()!=Symbol() || OrderMagicNumber()!=magic || OrderType()!=type)
         continue;
      if(TorvikClose(OrderTicket(),OrderLots(),type,slippage))
         closed++;
     }
   return(closed);
  }

//+------------------------------------------------------------------+
//| One whole update.                                                 |
//+------------------------------------------------------------------+
// What the expert passes besides the chart.
struct TorvikSettings
  {
   int               magic;
   int               slippage;        // points
   int               pipMode;         // 4 or 5
   double            fixedLot;
   double            riskPercent;
   double            riskMultiplier;
   int               riskSplit;
  };

// What one update decided, read while the lock was held.
struct TorvikDecision
  {
   int               exitSide;        // CloseSignal: 0 keep, 1 close the buys, 2 the sells
   int               closed;          // positions closed on it
   int               entrySide;       // OpenSignal: 0 none, 1 buy, 2 sell
   double            takeProfit;      // PoTP: a price distance, 0 for none
   double            stopLoss;        // PoSL
   double            lots;            // LOT
  };

//+------------------------------------------------------------------+
//| Rft and IniAll with the bars, the current prices and the newest   |
//| open position of this expert.                                     |
//+------------------------------------------------------------------+
void TorvikFeed(const TorvikSettings &settings,TorvikBar &bars[],int barCount,uchar &symbolText[],
                uchar &currencyText[])
  {
   double openPrice=0.0;
   int    type=0;
   TorvikPositions(settings.magic,openPrice,type);
   Rft(barCount,bars,barCount,bars,barCount,bars,barCount,Ask,Bid,Digits,Point,openPrice,type,settings.pipMode);
   IniAll(symbolText,currencyText);
  }

//+------------------------------------------------------------------+
//| Runs one whole update under the terminal-wide lock: feed, the     |
//| close decision and its closes, a new feed with the position as it |
//| then stands, the open decision, its distances and its lot. No     |
//| other chart's call comes in between. Returns false when the lock  |
//| could not be had: the update was skipped.                         |
//+------------------------------------------------------------------+
bool TorvikRunUpdate(const TorvikSettings &settings,TorvikBar &bars[],int barCount,uchar &symbolText[],
                     uchar &currencyText[],TorvikDecision &decision)
  {
   ZeroMemory(decision);
   if(!TorvikLockTake())
      return(false);
   TorvikFeed(settings,bars,barCount,symbolText,currencyText);
   decision.exitSide=CloseSignal();
   if(decision.exitSide==1)
      decision.closed=TorvikClosePositions(OP_BUY,settings.magic,settings.slippage);
   else if(decision.exitSide==2)
      decision.closed=TorvikClosePositions(OP_SELL,settings.magic,settings.slippage);
   if(decision.closed>0)
     {
      RefreshRates();
      TorvikFeed(settings,bars,barCount,symbolText,currencyText);
     }
   decision.entrySide=OpenSignal();
   decision.takeProfit=PoTP();
   decision.stopLoss=PoSL();
   if(decision.entrySide!=0)
      decision.lots=LOT(settings.fixedLot,settings.riskPercent,settings.riskMultiplier,
                        MarketInfo(Symbol(),MODE_MINLOT),MarketInfo(Symbol(),MODE_MAXLOT),
                        MarketInfo(Symbol(),MODE_LOTSTEP),(int)MarketInfo(Symbol(),MODE_LOTSIZE),
                        AccountFreeMargin(),MarketInfo(Symbol(),MODE_MARGINREQUIRED),settings.riskSplit,symbolText);
   TorvikLockRelease();
   return(true);
  }

//+------------------------------------------------------------------+
//| The broker's stop level.                                          |
//+------------------------------------------------------------------+
enum TorvikTooCloseStops
  {
   TORVIK_STOPS_MOVE_OUT=0,   // move it out to the nearest allowed level
   TORVIK_STOPS_REFUSE=1      // refuse the order
  };

//+------------------------------------------------------------------+
//| One level of an order, `distance` from `entry` on the side `away` |
//| (+1 above, -1 below), checked against the stop level: it must lie |
//| MODE_STOPLEVEL points, and at least one point, beyond the closing |
//| price (Bid for a buy, Ask for a sell). A distance of 0 or less,   |
//| or a level at or beyond the closing price, gives no level (0).    |
//| Returns false when the level is too close and `tooClose` refuses  |
//| the order.                                                        |
//+------------------------------------------------------------------+
bool TorvikLevel(string what,double entry,double distance,double away,double closing,string closingName,
                 TorvikTooCloseStops tooClose,double &level)
  {
   level=0.0;
   if(!(distance>0.0))
      return(true);
   level=NormalizeDouble(entry+away*distance,Digits);
   int needed=(int)MarketInfo(Symbol(),MODE_STOPLEVEL);
   if(needed<1)
      needed=1;
   int points=(int)MathRound(away*(level-closing)/Point);
   if(points>=needed)
      return(true);
   // At or beyond the closing price the level is not a stop or a target at
   // all: the position opens without it, as the tester opens it.
   if(points<=0)
     {
      Print("torvik: opened without a ",what,": ",DoubleToString(level,Digits)," is on the wrong side of the ",
            closingName," ",DoubleToString(closing,Digits));
      level=0.0;
      return(true);
     }
   if(tooClose==TORVIK_STOPS_REFUSE)
     {
      Print("torvik: order refused: its ",what," ",DoubleToString(level,Digits)," is ",points," points from the ",
            closingName,", the broker needs ",needed," (TooCloseStops)");
      return(false);
     }
   double moved=NormalizeDouble(closing+away*needed*Point,Digits);
   Print("torvik: ",what," ",DoubleToString(level,Digits)," is ",points," points from the ",closingName,
         ", the broker needs ",needed,": moved out to ",DoubleToString(moved,Digits));
   level=moved;
   return(true);
  }

//+------------------------------------------------------------------+
//| The take-profit and stop-loss of an order of `type` at `entry`.   |
//+------------------------------------------------------------------+
bool TorvikLevels(int type,double entry,const TorvikDecision &decision,TorvikTooCloseStops tooClose,
                  double &takeProfit,double &stopLoss)
  {
   double up=(type==OP_BUY) ? 1.0 : -1.0;
   double closing=(type==OP_BUY) ? Bid : Ask;
   string closingName=(type==OP_BUY) ? "bid" : "ask";
   return(TorvikLevel("take-profit",entry,decision.takeProfit,up,closing,closingName,tooClose,takeProfit) &&
          TorvikLevel("stop-loss",entry,decision.stopLoss,-up,closing,closingName,tooClose,stopLoss));
  }

//+------------------------------------------------------------------+
//| Sets the levels of a position opened without them (market         |
//| execution), from its fill price. It is open already, so a level  |
//| the price has come too close to is moved out, never refused.      |
//+------------------------------------------------------------------+
bool TorvikSetLevels(int ticket,int type,const TorvikDecision &decision)
  {
   for(int attempt=1; attempt<=TORVIK_TRADE_TRIES; attempt++)
     {
      if(!TorvikTradeReady() || !OrderSelect(ticket,SELECT_BY_TICKET))
         break;
      RefreshRates();
      double takeProfit=0.0,stopLoss=0.0;
      TorvikLevels(type,OrderOpenPrice(),decision,TORVIK_STOPS_MOVE_OUT,takeProfit,stopLoss);
      if(takeProfit==0.0 && stopLoss==0.0)
         return(true);
      ResetLastError();
      if(OrderModify(ticket,OrderOpenPrice(),stopLoss,takeProfit,0,clrNONE))
         return(true);
      int error=GetLastError();
      if(!TorvikTransientError(error) || attempt==TORVIK_TRADE_TRIES)
        {
         Print("torvik: #",ticket," is open WITHOUT its take-profit and stop-loss: ",TorvikErrorText(error));
         return(false);
        }
      Sleep(TORVIK_TRADE_PAUSE_MS);
     }
   Print("torvik: #",ticket," is open WITHOUT its take-profit and stop-loss");
   return(false);
  }

//+------------------------------------------------------------------+
//| Opens the update's entry at the Ask (buy) or the Bid (sell) with  |
//| its levels, retrying transient refusals within the tick. With     |
//| marketExecution the order goes without levels, which OrderModify  |
//| then sets from the fill price. Returns the ticket, or -1.         |
//+------------------------------------------------------------------+
int TorvikOpenPosition(const TorvikDecision &decision,const TorvikSettings &settings,
                       TorvikTooCloseStops tooClose,bool marketExecution)
  {
   int    type=(decision.entrySide==1) ? OP_BUY : OP_SELL;
   string side=(type==OP_BUY) ? "buy" : "sell";
   if(!MathIsValidNumber(decision.lots) || decision.lots<=0.0)
     {
      Print("torvik: no ",side,": LOT gave no lot size (",decision.lots,")");
      return(-1);
     }
   for(int attempt=1; attempt<=TORVIK_TRADE_TRIES; attempt++)
     {
      if(!TorvikTradeReady())
         return(-1);
      RefreshRates();
      double price=NormalizeDouble((type==OP_BUY) ? Ask : Bid,Digits);
      double takeProfit=0.0,stopLoss=0.0;
      // Checked before sending in both modes: a refused order never opens.
      if(!TorvikLevels(type,price,decision,tooClose,takeProfit,stopLoss))
         return(-1);
      if(marketExecution)
        {
         takeProfit=0.0;
         stopLoss=0.0;
        }
      ResetLastError();
      int ticket=OrderSend(Symbol(),type,decision.lots,price,settings.slippage,stopLoss,takeProfit,"torvik",
                           settings.magic,0,clrNONE);
      if(ticket>=0)
        {
         if(marketExecution)
            TorvikSetLevels(ticket,type,decision);
         if(!(decision.takeProfit>0.0))
            Print("torvik: #",ticket," opened without a take-profit (PoTP ",decision.takeProfit,")");
         if(!(decision.stopLoss>0.0))
            Print("torvik: #",ticket," opened without a stop-loss (PoSL ",decision.stopLoss,")");
         return(ticket);
        }
      int error=GetLastError();
      if(!TorvikTransientError(error) || attempt==TORVIK_TRADE_TRIES)
        {
         Print("torvik: ",side," of ",decision.lots," lots failed (try ",attempt,"): ",TorvikErrorText(error));
         return(-1);
        }
      Sleep(TORVIK_TRADE_PAUSE_MS);
     }
   return(-1);
  }
//+------------------------------------------------------------------+
