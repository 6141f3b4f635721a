//+------------------------------------------------------------------+
//| TorvikExpert.mq4: trades the chart's symbol on the decisions of   |
//| the torvik library, once per new bar.                             |
//|                                                                   |
//| Copy to MQL4\Experts, Torvik.mqh to MQL4\Include and the DLL to   |
//| MQL4\Libraries; enable "Allow DLL imports".                       |
//+------------------------------------------------------------------+
#property strict
#property description "Opens and closes positions on the torvik library's signals."

#include <Torvik.mqh>

input int    WindowBars     = 300;   // bars passed per update (at most 500)
input double FixedLot       = 0.1;   // lot when sizing does not apply
input double RiskPercent    = 2.0;   // percent of free margin to commit; 0 for the fixed lot
input double RiskMultiplier = 1.0;
input int    RiskSplit      = 1;
input int    MaxPositions   = 3;     // open positions of this expert at most
input int    PipMode        = 0;     // 0: automatic (4 on 3- and 5-digit quotes, else 5)
input int    MagicNumber    = 730401;
input int    Slippage       = 3;     // points

datetime lastBarTime=0;
uchar    symbolText[];
uchar    currencyText[];
TorvikBar bars[];
int      barCount=0;

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
   if(WindowBars<TORVIK_MIN_BARS || WindowBars>TORVIK_MAX_BARS)
     {
      Print("torvik: WindowBars must be between ",TORVIK_MIN_BARS," and ",TORVIK_MAX_BARS);
      return(INIT_PARAMETERS_INCORRECT);
     }
   TorvikText(Symbol(),symbolText);
   TorvikText(AccountCurrency(),currencyText);
   return(INIT_SUCCEEDED);
  }

//+------------------------------------------------------------------+
//| The newest open position of this symbol and magic number.         |
//+------------------------------------------------------------------+
int CountPositions(double &openPrice,int &type)
  {
   int count=0;
   datetime newest=0;
   openPrice=0.0;
   type=0;
   for(int i=0; i<OrdersTotal(); i++)
     {
      if(!OrderSelect(i,SELECT_BY_POS,MODE_TRADES))
         continue;
      if(OrderSymbol()!=Symbol() || OrderMagicNumber()!=MagicNumber || OrderType()>OP_SELL)
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
//| Rft and IniAll with the current bars, prices and position.        |
//+------------------------------------------------------------------+
void FeedLibrary()
  {
   double openPrice;
   int type;
   CountPositions(openPrice,type);
   int pipMode=(PipMode!=0) ? PipMode : TorvikPipMode();
   Rft(barCount,bars,barCount,bars,barCount,bars,barCount,Ask,Bid,Digits,Point,openPrice,type,pipMode);
   IniAll(symbolText,currencyText);
  }

//+------------------------------------------------------------------+
//| Closes this expert's positions of one type; returns how many.     |
//+------------------------------------------------------------------+
int ClosePositions(int type)
  {
   int closed=0;
   for(int i=OrdersTotal()-1; i>=0; i--)
     {
      if(!OrderSelect(i,SELECT_BY_POS,MODE_TRADES))
         continue;
      if(OrderSymbol()!=Symbol() || OrderMagicNumber()!=MagicNumber || OrderType()!=type)
         continue;
      double price=(type==OP_BUY) ? Bid : Ask;
      if(OrderClose(OrderTicket(),OrderLots(),price,Slippage,clrNONE))
         closed++;
      else
        {
         int error=GetLastError();
         Print("torvik: closing #",OrderTicket()," failed: ",TorvikErrorText(error));
        }
      RefreshRates();
     }
   return(closed);
  }

//+------------------------------------------------------------------+
void OpenPosition(int signal)
  {
   double lots=LOT(FixedLot,RiskPercent,RiskMultiplier,
                   MarketInfo(Symbol(),MODE_MINLOT),MarketInfo(Symbol(),MODE_MAXLOT),
                   MarketInfo(Symbol(),MODE_LOTSTEP),(int)MarketInfo(Symbol(),MODE_LOTSIZE),
                   AccountFreeMargin(),MarketInfo(Symbol(),MODE_MARGINREQUIRED),RiskSplit,symbolText);
   if(!MathIsValidNumber(lots) || lots<=0.0)
     {
      Print("torvik: no lot size for this order (",lots,")");
      return;
     }
   int    type=(signal==1) ? OP_BUY : OP_SELL;
   double price=(signal==1) ? Ask : Bid;
   double direction=(signal==1) ? 1.0 : -1.0;
   double takeProfit=PoTP();
   double stopLoss=PoSL();
   double tp=(takeProfit>0.0) ? NormalizeDouble(price+direction*takeProfit,Digits) : 0.0;
   double sl=(stopLoss>0.0) ? NormalizeDouble(price-direction*stopLoss,Digits) : 0.0;
   int ticket=OrderSend(Symbol(),type,lots,price,Slippage,sl,tp,"torvik",MagicNumber,0,clrNONE);
   if(ticket<0)
     {
      int error=GetLastError();
      Print("torvik: order failed: ",TorvikErrorText(error));
     }
  }

//+------------------------------------------------------------------+
//| One update per new bar: feed, close, feed again, open.            |
//+------------------------------------------------------------------+
void OnTick()
  {
   if(Time[0]==lastBarTime)
      return;
   barCount=TorvikChartBars(WindowBars,bars);
   if(barCount<TORVIK_MIN_BARS)
      return;
   lastBarTime=Time[0];

   FeedLibrary();
   int exitSide=CloseSignal();
   int closed=0;
   if(exitSide==1)
      closed=ClosePositions(OP_BUY);
   else if(exitSide==2)
      closed=ClosePositions(OP_SELL);
   if(closed>0)
     {
      RefreshRates();
      FeedLibrary();
     }

   int signal=OpenSignal();
   double openPrice;
   int type;
   if(signal!=0 && CountPositions(openPrice,type)<MaxPositions)
      OpenPosition(signal);
  }
//+------------------------------------------------------------------+
