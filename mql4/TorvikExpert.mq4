//+------------------------------------------------------------------+
//| TorvikExpert.mq4: trades the chart's symbol on the decisions of   |
//| the torvik library, once per new bar at its first tick, as        |
//| torvik-tester replays it.                                         |
//|                                                                   |
//| Copy to MQL4\Experts, Torvik.mqh to MQL4\Include and the DLL to   |
//| MQL4\Libraries; enable "Allow DLL imports". Safe on many charts   |
//| at once: every update runs under the lock of Torvik.mqh.          |
//+------------------------------------------------------------------+
#property strict
#property description "Opens and closes positions on the torvik library's signals."

#include <Torvik.mqh>

input int    WindowBars     = 300;   // bars passed per update (98 to 500)
input double FixedLot       = 0.1;   // lot when sizing does not apply
input double RiskPercent    = 2.0;   // percent of free margin to commit; 0: fixed lot
input double RiskMultiplier = 1.0;
input int    RiskSplit      = 1;
input int    MaxPositions   = 3;     // open positions of this expert at most
input int    PipMode        = 0;     // 0: automatic (4 on 3- and 5-digit quotes, else 5)
input int    MagicNumber    = 730401;
input int    Slippage       = 3;     // points
input TorvikTooCloseStops TooCloseStops = TORVIK_STOPS_MOVE_OUT; // level closer than the stop level
input bool   MarketExecution = false; // broker with market execution: levels set after the fill

TorvikSettings settings;
datetime  lastBarTime=0;
bool      waitingForBars=false;
uchar     symbolText[];
uchar     currencyText[];
TorvikBar bars[];

//+------------------------------------------------------------------+
int OnInit()
  {
   if(!TorvikBarLayoutOk())
     {
      Print("torvik: the bar record is ",sizeof(TorvikBar)," bytes, the library needs ",TORVIK_BAR_BYTES);
      return(INIT_FAILED);
     }
   if(!TerminalInfoInteger(TERMINAL_DLLS_ALLOWED) || !MQLInfoInteger(MQL_DLLS_ALLOWED))
     {
      Print("torvik: enable \"Allow DLL imports\" for this expert");
      return(INIT_FAILED);
     }
   if(WindowBars<TORVIK_MIN_WINDOW || WindowBars>TORVIK_MAX_BARS)
     {
      Print("torvik: WindowBars must be between ",TORVIK_MIN_WINDOW," and ",TORVIK_MAX_BARS);
      return(INIT_PARAMETERS_INCORRECT);
     }
   if(PipMode!=0 && PipMode!=4 && PipMode!=5)
     {
      Print("torvik: PipMode must be 0 (automatic), 4 or 5");
      return(INIT_PARAMETERS_INCORRECT);
     }
   settings.magic=MagicNumber;
   settings.slippage=Slippage;
   settings.pipMode=(PipMode!=0) ? PipMode : TorvikPipMode();
   settings.fixedLot=FixedLot;
   settings.riskPercent=RiskPercent;
   settings.riskMultiplier=RiskMultiplier;
   settings.riskSplit=RiskSplit;
   TorvikText(Symbol(),symbolText);
   TorvikText(AccountCurrency(),currencyText);
   if(!TorvikLockInit())
      Print("torvik: the library lock is not ready yet (error ",GetLastError(),"); each update tries again");
   return(INIT_SUCCEEDED);
  }

//+------------------------------------------------------------------+
void OnDeinit(const int reason)
  {
   TorvikLockRelease();
  }

//+------------------------------------------------------------------+
//| True at the first tick of a new bar. The bar the expert was       |
//| attached in is skipped unless this is its first tick (a tick      |
//| volume of 1): its opening moment has passed.                      |
//+------------------------------------------------------------------+
bool FirstTickOfNewBar()
  {
   if(Time[0]==lastBarTime)
      return(false);
   bool first=(lastBarTime!=0 || Volume[0]<=1);
   lastBarTime=Time[0];
   return(first);
  }

//+------------------------------------------------------------------+
//| One update per new bar, as the tester decides: the last           |
//| WindowBars bars, and nothing until the chart has them all.        |
//+------------------------------------------------------------------+
void OnTick()
  {
   if(!FirstTickOfNewBar())
      return;
   if(Bars<WindowBars)
     {
      if(!waitingForBars)
         Print("torvik: the chart has ",Bars," bars; the first update waits for WindowBars = ",WindowBars);
      waitingForBars=true;
      return;
     }
   waitingForBars=false;
   int barCount=TorvikChartBars(WindowBars,bars);

   TorvikDecision decision;
   if(!TorvikRunUpdate(settings,bars,barCount,symbolText,currencyText,decision))
      return;

   double openPrice=0.0;
   int    type=0;
   if(decision.entrySide!=0 && TorvikPositions(MagicNumber,openPrice,type)<MaxPositions)
      TorvikOpenPosition(decision,settings,TooCloseStops,MarketExecution);
  }
//+------------------------------------------------------------------+
